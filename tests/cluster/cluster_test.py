"""hitsieve-cluster on a real Dask scheduler with two worker processes on loopback, all started
and stopped here, checked table by table against one local `hitsieve-cli analyse`.

Run by ctest with the paths of the programs in the environment:
HITSIEVE_CLI, HITSIEVE_CLUSTER, HITSIEVE_GEN_LOG, HITSIEVE_TEST_DATA.
"""

import gzip
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

CLI = os.environ["HITSIEVE_CLI"]
CLUSTER = os.environ["HITSIEVE_CLUSTER"]
GEN_LOG = os.environ["HITSIEVE_GEN_LOG"]
TEST_DATA = os.environ["HITSIEVE_TEST_DATA"]
HOSTILE = os.path.join(TEST_DATA, "hostile-lines.log")

# Two more fields before the referer, where a combined reading would take them for it.
NGINX_FORMAT = ('$remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent '
                '$request_time "$upstream_addr" "$http_referer" "$http_user_agent"')
STATS_TABLES = ("common_stats", "page_stats", "referer_stats", "robot_log", "query_stats")
REPORTS = ("common", "pages", "queries", "referers", "robots", "status", "notfound", "hours",
           "crawlers", "engines", "browsers", "versions", "systems", "devices", "countries")
PYTHON = sys.executable
ESCAPING_NAME = "d\x1b[2J\x9b31m.log"  # a file name that would clear a terminal
LONG = 300  # seconds: a guard against a hang, never a measure of speed


def Rows(db, table):
    """The robot log in rec_id order; a keyed table as a set: its rows without their rec_ids,
    sorted, as an add or a merge appends new keys after the stored rows."""
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        connection.text_factory = bytes  # log texts are bytes, not always UTF-8
        rows = connection.execute("SELECT * FROM %s ORDER BY rec_id" % table).fetchall()
    if table == "robot_log":
        return rows
    return sorted((row[1:] for row in rows), key=repr)


def Tables(db):
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        return sorted(r[0] for r in connection.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table'"))


def Remembered(db):
    """How the database remembers its logs, in order, all but the time they were read."""
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        connection.text_factory = bytes
        return connection.execute(
            "SELECT name, bytes, hash, head_bytes, head_hash, first_line_hash, lines, first_day, "
            "last_day FROM analysed_logs ORDER BY rec_id").fetchall()


def Formats(db):
    """The format each remembered log was read in, in order."""
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        return connection.execute(
            "SELECT name, format FROM analysed_logs ORDER BY rec_id").fetchall()


def Running(pid):
    """Whether the process runs (a zombie has ended)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(") ", 1)[1][0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False


def WaitFor(predicate, what, seconds=LONG):
    deadline = time.monotonic() + seconds
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.1)


class ClusterTestBase(unittest.TestCase):
    """A scheduler and two nanny-managed workers for the whole class. The workers run with
    HITSIEVE_TEST_ROLE=worker, which the stand-in hitsieve-cli below reacts to."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="hitsieve-cluster-test-")
        cls.dir = cls.tmp.name
        cls.processes = []
        cls.GenerateLogs()
        cls.WriteStandIn()
        scheduler_file = os.path.join(cls.dir, "scheduler.json")
        cls.Start([PYTHON, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1",
                   "--port", "0", "--no-dashboard", "--scheduler-file", scheduler_file])
        WaitFor(lambda: os.path.exists(scheduler_file), "the scheduler")
        with open(scheduler_file) as f:
            cls.address = json.load(f)["address"]
        env = dict(os.environ, HITSIEVE_TEST_ROLE="worker")
        for n in range(2):
            local = os.path.join(cls.dir, "worker%d" % n)
            os.mkdir(local)
            cls.Start([PYTHON, "-m", "distributed.cli.dask_worker", cls.address,
                       "--nthreads", "1", "--host", "127.0.0.1", "--no-dashboard",
                       "--local-directory", local], env=env)
        WaitFor(lambda: cls.WorkerCount() >= 2, "two workers")

    @classmethod
    def tearDownClass(cls):
        for process in reversed(cls.processes):
            process.terminate()
        for process in reversed(cls.processes):
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        cls.tmp.cleanup()

    @classmethod
    def Start(cls, command, env=None):
        log = open(os.path.join(cls.dir, "dask-%d.log" % len(cls.processes)), "wb")
        cls.processes.append(subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log,
                                              stderr=subprocess.STDOUT, env=env))
        log.close()

    @classmethod
    def WorkerCount(cls):
        for process in cls.processes:
            if process.poll() is not None:
                raise AssertionError("a dask process ended early, see " + cls.dir)
        import distributed
        with distributed.Client(cls.address, timeout=30) as client:
            return len(client.scheduler_info()["workers"])

    @classmethod
    def Path(cls, name):
        return os.path.join(cls.dir, name)

    @classmethod
    def GenerateLogs(cls):
        """Several files of several days, plain, CR LF and gzip, from different seeds; the
        days of one file overlap those of the next, so hosts and visitors of one day are
        spread over files."""
        generated = [("a1.log", ["--seed", "1", "--days", "3"]),
                     ("a2.log.gz", ["--seed", "2", "--days", "4", "--gzip"]),
                     ("b1.log", ["--seed", "3", "--days", "2", "--crlf"]),
                     ("b2.log.gz", ["--seed", "4", "--days", "5", "--gzip"]),
                     ("c1.log", ["--seed", "5", "--days", "3", "--start", "30/Oct/2008"]),
                     ("c2.log.gz", ["--seed", "6", "--days", "2", "--gzip"]),
                     (ESCAPING_NAME, ["--seed", "7", "--days", "1"])]
        for name, options in generated:
            subprocess.run([GEN_LOG, "--lines", "6000", *options, "-o", cls.Path(name)],
                           check=True)
        with open(cls.Path("a1.log"), "rb") as f:
            whole = f.read()
        with open(cls.Path("damaged.log.gz"), "wb") as f:  # a gzip cut in the middle
            subprocess.run(["gzip", "-c", cls.Path("a1.log")], stdout=f, check=True)
        with open(cls.Path("damaged.log.gz"), "r+b") as f:
            f.truncate(len(whole) // 20)

    @classmethod
    def WriteStandIn(cls):
        """A hitsieve-cli that runs the real one, except on the workers when told to by a file:
        `fake-version` makes it give another version; `stall` makes the first analysis stall
        after writing its worker's process id and its own to `stalled`; `grow` makes
        describe-log add a line to the log first."""
        cls.stand_in = cls.Path("stand-in-cli")
        with open(cls.stand_in, "w") as f:
            f.write("""#!/bin/sh
d='%(dir)s'
if [ "$HITSIEVE_TEST_ROLE" = worker ]; then
  if [ "$1" = --version ] && [ -f "$d/fake-version" ]; then cat "$d/fake-version"; exit 0; fi
  if [ "$1" = describe-log ] && [ -f "$d/grow" ]; then printf 'x\\n' >> "$3"; fi
  if [ "$1" = analyse ] && [ -f "$d/stall" ] && mkdir "$d/stall.taken" 2>/dev/null; then
    echo "$PPID $$" > "$d/stalled.tmp" && mv "$d/stalled.tmp" "$d/stalled"
    exec sleep 600
  fi
fi
exec '%(cli)s' "$@"
""" % {"dir": cls.dir, "cli": CLI})
        os.chmod(cls.stand_in, 0o755)

    @classmethod
    def Rewrite(cls, source, target, kind):
        """A generated combined log written again in NGINX_FORMAT, or
        as Apache's vhost_combined; gzip in, gzip out."""
        line_re = re.compile(rb'^(\S+) \S+ (\S+) \[([^\]]*)\] "((?:[^"\\]|\\.)*)" (\d+) (\S+) '
                             rb'"((?:[^"\\]|\\.)*)" "((?:[^"\\]|\\.)*)"$')
        opener = gzip.open if source.endswith(".gz") else open
        with opener(cls.Path(source), "rb") as f:
            lines = f.read().splitlines()
        out = []
        for n, line in enumerate(lines):
            m = line_re.match(line.rstrip(b"\r"))
            if not m:
                continue
            ip, user, when, request, status, size, referer, agent = m.groups()
            if kind == "nginx":
                out.append(b'%s - %s [%s] "%s" %s %s 0.%03d "10.0.0.%d:8080" "%s" "%s"'
                           % (ip, user, when, request, status, b"0" if size == b"-" else size,
                              n % 997, n % 8, referer, agent))
            else:
                out.append(b'www.example.org:443 %s - %s [%s] "%s" %s %s "%s" "%s"'
                           % (ip, user, when, request, status, size, referer, agent))
        opener = gzip.open if target.endswith(".gz") else open
        with opener(cls.Path(target), "wb") as f:
            f.write(b"\n".join(out) + b"\n")

    # ---- helpers for the tests ----

    def Cluster(self, *args, scheduler=True, cli=CLI):
        command = [CLUSTER, "--cli", cli, *args]
        if scheduler:
            command[1:1] = ["--scheduler", self.address]
        return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=LONG, cwd=self.dir)

    def Analyse(self, *args):
        return subprocess.run([CLI, "analyse", *args], stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=LONG, cwd=self.dir)

    def Report(self, db, name):
        """The bytes of `hitsieve-cli report NAME` over `db`, in CSV (every count in full)."""
        done = subprocess.run([CLI, "report", name, "--db", db, "--format", "csv"],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=LONG)
        self.AssertOk(done)
        return done.stdout

    def AssertOk(self, done):
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))

    def AssertSameStatistics(self, expected_db, db):
        self.assertEqual(Tables(expected_db), Tables(db))
        for table in STATS_TABLES:
            expected = Rows(expected_db, table)
            self.assertTrue(expected or table == "robot_log", "no rows in " + table)
            self.assertEqual(expected, Rows(db, table), table)

    def FreshDb(self, name):
        path = self.Path(name)
        if os.path.exists(path):
            os.remove(path)
        return path


class ExactnessTest(ClusterTestBase):

    def test_same_statistics_as_one_local_run(self):
        # Given out of order, one of them twice under another spelling of its path.
        files = ["c2.log.gz", "a1.log", "b2.log.gz", "./a1.log", "b1.log", "a2.log.gz",
                 "c1.log"]
        files += [HOSTILE, ESCAPING_NAME]  # texts that attack every place they are shown
        # Every part merged here, a tree of two parts a merge on the workers, and by default
        # each of the two workers merging half of the parts and one of them the two halves.
        for extensions, fan_in in ((None, "0"), ("html; php; zip", "2"), (None, None)):
            with self.subTest(extensions=extensions, fan_in=fan_in):
                option = [] if extensions is None else ["--extensions", extensions]
                tree = [] if fan_in is None else ["--fan-in", fan_in]
                local = self.FreshDb("local.dt")
                expected = self.Analyse("--db", local, *option, *files)
                self.AssertOk(expected)
                db = self.FreshDb("cluster.dt")
                done = self.Cluster("--db", db, *tree, *option, *files)
                self.AssertOk(done)
                if fan_in is None:
                    self.assertIn("8 parts merged on the workers in 2 levels, 1 part to merge "
                                  "here", done.stderr.decode())
                self.AssertSameStatistics(local, db)
                self.assertEqual(re.search(rb": (\d+) lines", expected.stdout).group(1),
                                 re.search(rb": (\d+) lines", done.stdout).group(1))
                progress = done.stderr.decode()
                self.assertIn("%d/%d tasks done" % (len(files) - 1, len(files) - 1), progress)
                self.assertIn(" read (", progress)
                self.assertNotIn("\x1b", progress)
                self.assertIn("d\\x1b[2J\\x9b31m.log", progress)

    def test_a_log_format_gives_the_statistics_of_a_local_run(self):
        # nginx logs with two more fields, plain, gzip and of other days, read on the workers
        # with the format given here: every part merged here, a tree of merges on the workers,
        # and an adding run.
        files = []
        for source, target in (("a1.log", "a1-nginx.log"), ("b2.log.gz", "b2-nginx.log.gz"),
                               ("c1.log", "c1-nginx.log")):
            self.Rewrite(source, target, "nginx")
            files.append(target)
        option = "--log-format=" + NGINX_FORMAT
        local = self.FreshDb("nginx-local.dt")
        expected = self.Analyse("--db", local, option, *files)
        self.AssertOk(expected)
        self.assertIn(b" 0 lines not recognised", expected.stdout)
        for fan_in in ("0", "2"):
            with self.subTest(fan_in=fan_in):
                db = self.FreshDb("nginx-cluster.dt")
                self.AssertOk(self.Cluster("--db", db, "--fan-in", fan_in, option, *files))
                self.AssertSameStatistics(local, db)
                self.assertEqual(Formats(local), Formats(db))
        self.assertEqual(NGINX_FORMAT, Formats(local)[0][1])
        # Plain logs larger than --split-size are read in ranges, each in the format, and
        # remembered with it.
        db = self.FreshDb("nginx-ranges.dt")
        size = os.path.getsize(self.Path(files[0]))
        done = self.Cluster("--db", db, "--split-size", str(size // 3 + 1), option, *files)
        self.AssertOk(done)
        self.assertIn("%s read in 3 ranges" % self.Path(files[0]), done.stderr.decode())
        self.AssertSameStatistics(local, db)
        self.assertEqual(Formats(local), Formats(db))
        added = self.FreshDb("nginx-added.dt")
        self.AssertOk(self.Cluster("--db", added, option, files[0]))
        self.AssertOk(self.Cluster("--db", added, "--add", option, *files[1:]))
        self.AssertSameStatistics(local, added)
        # Read as combined, the same files give other statistics: the format did the reading.
        combined = self.FreshDb("nginx-combined.dt")
        self.AssertOk(self.Cluster("--db", combined, *files))
        self.assertNotEqual(Rows(local, "referer_stats"), Rows(combined, "referer_stats"))

    def test_auto_names_the_format_of_each_file_as_a_local_run_does(self):
        self.Rewrite("b1.log", "b1-vhost.log", "vhost")
        files = ["b1-vhost.log", "a1.log"]
        local = self.FreshDb("auto-local.dt")
        expected = self.Analyse("--db", local, "--log-format", "auto", *files)
        self.AssertOk(expected)
        db = self.FreshDb("auto-cluster.dt")
        done = self.Cluster("--db", db, "--log-format=auto", *files)
        self.AssertOk(done)
        self.AssertSameStatistics(local, db)

        def Notes(out):
            return [l for l in out.decode().splitlines() if l.startswith("format of ")]
        self.assertEqual(["format of %s: combined" % self.Path("a1.log"),
                          "format of %s: vhost_combined" % self.Path("b1-vhost.log")],
                         Notes(expected.stdout))
        self.assertEqual(Notes(expected.stdout), Notes(done.stdout))
        # Read as combined, most lines of the vhost log are not recognised: the summary says
        # which format fits, as a local run's does.
        expected = self.Analyse("--db", self.FreshDb("hint-local.dt"), *files)
        done = self.Cluster("--db", self.FreshDb("hint-cluster.dt"), *files)
        self.AssertOk(done)
        hint = [l for l in expected.stdout.decode().splitlines() if "try --log-format" in l]
        self.assertEqual(1, len(hint), expected.stdout)
        self.assertIn("it reads as vhost_combined", hint[0])
        self.assertEqual(hint, [l for l in done.stdout.decode().splitlines()
                                if "try --log-format" in l])

    def test_a_large_log_read_in_ranges(self):
        # A log larger than --split-size is read in ranges on both workers beside other files,
        # and the parts merged in a tree of two levels: the statistics and the remembered logs
        # are those of one local run, so a later local --add of the grown log reads only what
        # is new. Its last line has no line feed.
        big = self.Path("ranges-big.log")
        subprocess.run([GEN_LOG, "--lines", "20000", "--seed", "8", "--days", "4", "-o", big],
                       check=True)
        with open(big, "ab") as f:
            f.write(b'\r\n\n5.6.7.8 - - [02/Nov/2008:10:00:00 +0300] '
                    b'"GET /unfinished.html HTTP/1.0" 200 1')
        size = os.path.getsize(big)
        files = [big, "a1.log", "b2.log.gz", "c1.log"]
        local = self.FreshDb("ranges-local.dt")
        self.AssertOk(self.Analyse("--db", local, *files))
        db = self.FreshDb("ranges.dt")
        done = self.Cluster("--db", db, "--split-size", str(size // 7 + 1), *files)
        self.AssertOk(done)
        progress = done.stderr.decode()
        self.assertIn("%s read in 7 ranges" % big, progress)
        self.assertIn("4 parts merged on the workers in 2 levels, 1 part to merge here", progress)
        self.AssertSameStatistics(local, db)
        self.assertEqual(Remembered(local), Remembered(db))
        self.assertEqual(re.search(rb": (\d+) lines", done.stdout).group(1),
                         re.search(rb"analysed 4 files: (\d+) lines", self.Analyse(
                             "--db", self.FreshDb("ranges-scratch.dt"), *files).stdout).group(1))

        with open(big, "ab") as f:
            f.write(b'.html HTTP/1.0" 200 1\n7.7.7.7 - - [03/Nov/2008:10:00:00 +0300] '
                    b'"GET /new.html HTTP/1.0" 200 1\n')
        for target in (local, db):
            added = self.Analyse("--db", target, "--add", big)
            self.AssertOk(added)
            self.assertIn(b"added 1 file, skipped 0", added.stdout)
        self.AssertSameStatistics(local, db)
        self.assertEqual(Remembered(local), Remembered(db))

        # An adding run reads every log whole.
        added = self.FreshDb("ranges-added.dt")
        done = self.Cluster("--db", added, "--add", "--split-size", "65536", big)
        self.AssertOk(done)
        self.assertNotIn(" read in ", done.stderr.decode())
        whole = self.FreshDb("ranges-whole.dt")
        self.AssertOk(self.Analyse("--db", whole, "--add", big))
        self.AssertSameStatistics(whole, added)

    def test_crawlers_and_a_country_database_give_the_reports_of_a_local_run(self):
        # Every known crawler left out and a country database of the user's, for whole logs,
        # gzip logs and a log read in ranges: every report has the bytes of a local run's.
        geoip = self.Path("countries.mmdb")
        if not os.path.exists(geoip):
            subprocess.run(["/usr/bin/perl", os.path.join(TEST_DATA, "make-country-db.pl"),
                            geoip, "code", "6"], check=True)
        files = ["a1.log", "b2.log.gz", "c1.log"]
        options = ["--crawlers", "all", "--geoip", "countries.mmdb"]  # relative to the cwd
        local = self.FreshDb("crawlers-local.dt")
        expected = self.Analyse("--db", local, *options, *files)
        self.AssertOk(expected)
        self.assertIn(b"from other known crawlers left out", expected.stdout)
        split = os.path.getsize(self.Path("a1.log")) // 3 + 1
        for ranges in (False, True):
            with self.subTest(ranges=ranges):
                db = self.FreshDb("crawlers-cluster.dt")
                cut = ["--split-size", str(split)] if ranges else []
                done = self.Cluster("--db", db, *cut, *options, *files)
                self.AssertOk(done)
                self.assertEqual(ranges, "a1.log read in 3 ranges" in done.stderr.decode())
                for report in REPORTS:
                    self.assertEqual(self.Report(local, report), self.Report(db, report), report)
        # The options did the counting: without them the people and the countries differ.
        default = self.FreshDb("crawlers-default.dt")
        self.AssertOk(self.Cluster("--db", default, *files))
        for report in ("common", "countries"):
            self.assertNotEqual(self.Report(local, report), self.Report(default, report), report)
        # An add under the other choice is refused, and the database keeps what it held.
        before = Rows(default, "common_stats")
        done = self.Cluster("--db", default, "--add", "--crawlers", "all", "a2.log.gz")
        self.assertEqual(1, done.returncode, done.stderr)
        self.assertIn(b"--crawlers", done.stderr)
        self.assertEqual(before, Rows(default, "common_stats"))

    def test_a_file_reached_through_two_paths_is_read_once(self):
        for link, target, make in (("a1-hard.log", "a1.log", os.link),
                                   ("b1-soft.log", "b1.log", os.symlink)):
            if not os.path.lexists(self.Path(link)):
                make(self.Path(target), self.Path(link))
        files = ["a1.log", "a1-hard.log", "b1-soft.log", "b1.log"]
        local = self.FreshDb("linked-local.dt")
        self.AssertOk(self.Analyse("--db", local, *files))
        db = self.FreshDb("linked.dt")
        self.AssertOk(self.Cluster("--db", db, *files))
        self.AssertSameStatistics(local, db)

    def test_replaces_what_the_database_held(self):
        db = self.FreshDb("replaced.dt")
        self.AssertOk(self.Analyse("--db", db, "c1.log", "c2.log.gz"))
        self.AssertOk(self.Cluster("--db", db, "a1.log", "b1.log"))
        local = self.FreshDb("replaced-local.dt")
        self.AssertOk(self.Analyse("--db", local, "a1.log", "b1.log"))
        self.AssertSameStatistics(local, db)

    def test_add_through_the_cluster(self):
        # A replacing run and two adding runs, whose files in the order read hold the lines of
        # one run over all of them; the last offers a file again, which is not counted twice.
        db = self.FreshDb("added.dt")
        self.AssertOk(self.Cluster("--db", db, "a2.log.gz", "a1.log"))
        self.AssertOk(self.Cluster("--db", db, "--add", "b1.log", "b2.log.gz"))
        done = self.Cluster("--db", db, "--add", "c1.log", "a1.log", "c2.log.gz")
        self.AssertOk(done)
        self.assertIn("already analysed: " + self.Path("a1.log"), done.stdout.decode())
        local = self.FreshDb("added-local.dt")
        self.AssertOk(self.Analyse("--db", local, "a1.log", "a2.log.gz", "b1.log",
                                   "b2.log.gz", "c1.log", "c2.log.gz"))
        for table in STATS_TABLES:
            self.assertEqual(Rows(local, table), Rows(db, table), table)

    def test_a_local_cluster_without_scheduler(self):
        local = self.FreshDb("local-two.dt")
        self.AssertOk(self.Analyse("--db", local, "a1.log", "b2.log.gz", "c1.log"))
        db = self.FreshDb("local-cluster.dt")
        done = self.Cluster("--workers", "2", "--db", db, "a1.log", "b2.log.gz", "c1.log",
                            scheduler=False)
        self.AssertOk(done)
        self.AssertSameStatistics(local, db)


    def test_different_logs_with_equal_first_lines(self):
        # Many logs start alike (the same monitoring probe, the same header lines): they are
        # different logs all the same, and each is counted once, replacing or adding.
        probe = b'127.0.0.1 - - [01/Nov/2008:00:00:00 +0300] "GET /health HTTP/1.0" 200 2 "-" "probe"\n'
        names = []
        for n, source in enumerate(("a1.log", "b1.log", "c1.log")):
            name = "probed-%d.log" % n
            with open(self.Path(source), "rb") as f, open(self.Path(name), "wb") as out:
                out.write(probe + f.read())
            names.append(name)
        local = self.FreshDb("probed-local.dt")
        self.AssertOk(self.Analyse("--db", local, *names))
        db = self.FreshDb("probed.dt")
        self.AssertOk(self.Cluster("--db", db, "--fan-in", "2", *names))
        self.AssertSameStatistics(local, db)
        added = self.FreshDb("probed-added.dt")
        self.AssertOk(self.Cluster("--db", added, names[0]))
        done = self.Cluster("--db", added, "--add", *names)
        self.AssertOk(done)
        self.assertIn("already analysed: " + self.Path(names[0]), done.stdout.decode())
        self.AssertSameStatistics(local, added)

    def test_without_db_the_database_is_the_one_hitsieve_cli_finds(self):
        # Each case in two twin folders: the cluster without --db in one, hitsieve-cli analyse
        # without --db in the other. Both must write the same file, and nothing else.
        local = self.FreshDb("default-local.dt")
        self.AssertOk(self.Analyse("--db", local, "a1.log", "b1.log"))
        logs = [self.Path("a1.log"), self.Path("b1.log")]
        cases = {  # name: (XDG_DATA_HOME under the twin's root or as given, dat1.dt already here)
            "xdg": ("{root}/data/deep", False),
            "home": (None, False),
            "relative xdg": ("data", False),
            "here": ("{root}/data", True),
        }
        for case, (xdg, here) in cases.items():
            with self.subTest(case=case):
                written = []
                for program in ("cluster", "cli"):
                    root = tempfile.mkdtemp(prefix="default-db-", dir=self.dir)
                    work = os.path.join(root, "work")
                    os.makedirs(work)
                    os.makedirs(os.path.join(root, "home"))
                    env = dict(os.environ, HOME=os.path.join(root, "home"))
                    env.pop("XDG_DATA_HOME", None)
                    if xdg is not None:
                        env["XDG_DATA_HOME"] = xdg.format(root=root)
                    if here:
                        self.assertEqual(0, subprocess.run(
                            [CLI, "analyse", "--db", os.path.join(work, "dat1.dt"),
                             self.Path("c1.log")], capture_output=True).returncode)
                    if program == "cluster":
                        command = [CLUSTER, "--cli", CLI, "--scheduler", self.address, *logs]
                    else:
                        command = [CLI, "analyse", *logs]
                    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                          timeout=LONG, cwd=work, env=env)
                    self.AssertOk(done)
                    files = sorted(os.path.relpath(os.path.join(folder, name), root)
                                   for folder, _, names in os.walk(root) for name in names)
                    folders = sorted((os.path.relpath(os.path.join(folder, name), root),
                                      os.stat(os.path.join(folder, name)).st_mode & 0o777)
                                     for folder, names, _ in os.walk(root) for name in names)
                    written.append((files, folders))
                    self.assertEqual(1, len(files), files)
                    self.AssertSameStatistics(local, os.path.join(root, files[0]))
                self.assertEqual(written[1], written[0])
                expected = {"xdg": "data/deep/hitsieve/dat1.dt", "here": "work/dat1.dt"}.get(
                    case, "home/.local/share/hitsieve/dat1.dt")
                self.assertEqual([expected], written[0][0])


class FailureTest(ClusterTestBase):

    def setUp(self):
        # Every failure must leave this database exactly as it was.
        self.db = self.FreshDb("kept.dt")
        self.AssertOk(self.Analyse("--db", self.db, "c1.log"))
        with open(self.db, "rb") as f:
            self.before = f.read()

    def AssertFailedAndKept(self, done):
        self.assertEqual(done.returncode, 1, done.stderr.decode(errors="replace"))
        with open(self.db, "rb") as f:
            self.assertTrue(f.read() == self.before, "the database changed")

    def test_unreadable_logs_fail_with_the_message_of_analyse(self):
        for bad in ("damaged.log.gz", "missing.log", "."):
            with self.subTest(bad=bad):
                files = ["a1.log", bad, "b2.log.gz"]
                expected = self.Analyse("--db", self.Path("scratch.dt"), *files)
                self.assertEqual(expected.returncode, 1)
                for add in ([], ["--add"]):
                    done = self.Cluster("--db", self.db, *add, *files)
                    self.AssertFailedAndKept(done)
                    self.assertEqual(expected.stderr.decode().splitlines()[-1],
                                     done.stderr.decode().splitlines()[-1],
                                     done.stderr.decode(errors="replace"))

    def test_a_log_grown_since_it_was_counted_is_refused_by_add(self):
        # Each log's part is merged whole, so a log whose beginning the database has counted
        # (here c1.log, grown by a line under a new name) cannot be added through the
        # cluster: it must be refused, never counted twice.
        with open(self.Path("c1.log"), "rb") as f:
            grown = f.read() + b'1.2.3.4 - - [30/Oct/2008:10:00:00 +0300] "GET /x.html HTTP/1.0" 200 1\n'
        with open(self.Path("c1-grown.log"), "wb") as f:
            f.write(grown)
        done = self.Cluster("--db", self.db, "--add", "c1-grown.log")
        self.AssertFailedAndKept(done)
        self.assertIn("counted already", done.stderr.decode())

    def test_a_database_given_as_a_log_is_refused_before_anything_is_written(self):
        other = self.Path("other-db.log")  # another statistics database, under a log's name
        with open(other, "wb") as f:
            f.write(self.before)
        link = self.Path("kept-link.log")  # the database itself, under another name
        if not os.path.lexists(link):
            os.link(self.db, link)
        for given, named in ((self.db, "the statistics database itself"),
                             (link, "the statistics database itself"),
                             (other, "an SQLite database")):
            for add in ([], ["--add"]):
                with self.subTest(given=given, add=add):
                    done = self.Cluster("--db", self.db, *add, "a1.log", given)
                    self.AssertFailedAndKept(done)
                    message = done.stderr.decode()
                    self.assertIn("%s is %s, not a log" % (given, named), message)
                    self.assertNotIn("tasks done", message)  # refused before any work

    def test_a_log_that_grows_while_read_in_ranges_is_refused(self):
        # Its ranges and its description no longer fit: nothing may be counted.
        with open(self.Path("a1.log"), "rb") as f, open(self.Path("growing.log"), "wb") as out:
            out.write(f.read())
        open(self.Path("grow"), "w").close()
        try:
            done = self.Cluster("--db", self.db, "--split-size", "262144", "growing.log",
                                "b1.log", cli=self.stand_in)
        finally:
            os.remove(self.Path("grow"))
        self.AssertFailedAndKept(done)
        self.assertIn("read in 5 ranges", done.stderr.decode())
        self.assertIn("or it grew since", done.stderr.decode())

    def test_unreachable_scheduler(self):
        import socket
        with socket.socket() as s:  # a port that nobody listens on
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        done = subprocess.run([CLUSTER, "--cli", CLI, "--scheduler", "tcp://127.0.0.1:%d" % port,
                               "--timeout", "2", "--db", self.db, "a1.log"],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=LONG,
                              cwd=self.dir)
        self.AssertFailedAndKept(done)
        self.assertIn("cannot reach the scheduler at tcp://127.0.0.1:%d" % port,
                      done.stderr.decode())

    def test_workers_of_another_version_are_refused(self):
        with open(self.Path("fake-version"), "w") as f:
            f.write("hitsieve-cli 0.9\n")
        try:
            done = self.Cluster("--db", self.db, "a1.log", "b1.log", cli=self.stand_in)
        finally:
            os.remove(self.Path("fake-version"))
        self.AssertFailedAndKept(done)
        self.assertIn("runs hitsieve-cli 0.9", done.stderr.decode())

    def test_a_worker_killed_during_a_task(self):
        files = ["a1.log", "a2.log.gz", "b1.log", "b2.log.gz"]
        local = self.FreshDb("before-kill.dt")
        self.AssertOk(self.Analyse("--db", local, *files))
        open(self.Path("stall"), "w").close()
        db = self.FreshDb("after-kill.dt")
        command = [CLUSTER, "--scheduler", self.address, "--cli", self.stand_in, "--db", db,
                   "--fan-in", "2", *files]
        run = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, cwd=self.dir)
        try:
            WaitFor(lambda: os.path.exists(self.Path("stalled")), "a stalled task")
            with open(self.Path("stalled")) as f:
                worker, stalled = (int(n) for n in f.read().split())
            os.kill(worker, signal.SIGKILL)
            os.kill(stalled, signal.SIGKILL)
            out, err = run.communicate(timeout=LONG)
        finally:
            if run.poll() is None:
                run.kill()
                run.wait()
            os.remove(self.Path("stall"))
        self.assertEqual(run.returncode, 0, err.decode(errors="replace"))
        self.AssertSameStatistics(local, db)
        # The nanny brings the killed worker back for the tests that follow.
        WaitFor(lambda: self.WorkerCount() >= 2, "the worker to come back")


class OptionsTest(unittest.TestCase):
    """A command line that cannot be obeyed is refused in one line with exit status 2, before
    anything starts; and --timeout bounds starting a local cluster."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="hitsieve-cluster-options-")
        self.dir = self.tmp.name
        self.log = os.path.join(self.dir, "a.log")
        with open(self.log, "wb") as f:
            f.write(b'1.2.3.4 - - [30/Oct/2008:10:00:00 +0300] "GET /x.html HTTP/1.0" 200 1\n')
        self.db = os.path.join(self.dir, "new.dt")

    def tearDown(self):
        self.tmp.cleanup()

    def Run(self, *args, env=None):
        return subprocess.run([CLUSTER, "--cli", CLI, "--db", self.db, *args],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=LONG,
                              cwd=self.dir, env=env)

    def test_every_option_is_bounded(self):
        bad = [("--workers", v) for v in ("0", "-1", "257", "1000", "9" * 40, "1e9", "0x10",
                                          "２", "", "four")]
        bad += [("--timeout", v) for v in ("0", "-1", "inf", "-inf", "nan", "1e400",
                                           "86401", "", "soon")]
        bad += [("--fan-in", v) for v in ("1", "-2", "1001", "9" * 40, "2.5")]
        bad += [("--split-size", v) for v in ("0", "65535", "1e9", "9" * 40, "")]
        bad += [("--scheduler", ""), ("--cli", ""), ("--db", "")]
        # Understood by hitsieve-cli or refused with its message, before any worker starts.
        bad += [("--log-format", v) for v in ("", "bogus", "%{Referer", "$remote_addr $status",
                                               "%h %t", "{\"t\":\"$time_local\"")]
        bad += [("--crawlers", v) for v in ("", "none", "All")]
        damaged = os.path.join(self.dir, "damaged.mmdb")
        with open(damaged, "wb") as f:
            f.write(b"not a country database\n" * 100)
        bad += [("--geoip", v) for v in ("", os.path.join(self.dir, "missing.mmdb"), damaged,
                                         self.dir)]
        for option, value in bad:
            with self.subTest(option=option, value=value):
                done = self.Run(option + "=" + value, self.log)
                self.assertEqual(2, done.returncode, done.stderr.decode(errors="replace"))
                lines = done.stderr.decode(errors="replace").splitlines()
                self.assertEqual(1, len(lines), lines)
                self.assertTrue(lines[0].startswith("hitsieve-cluster: "), lines)
                self.assertIn(option, lines[0])
                self.assertEqual(b"", done.stdout)
                self.assertFalse(os.path.exists(self.db))
        for option, value in (("--workers", "256"), ("--timeout", "86400"),
                              ("--fan-in", "1000"), ("--timeout", "0.5"),
                              ("--split-size", "65536"), ("--split-size", str(1 << 39))):
            with self.subTest(accepted=option, value=value):
                done = self.Run(option, value, "--help")
                self.assertEqual(0, done.returncode, done.stderr.decode(errors="replace"))

    def test_timeout_bounds_starting_the_local_cluster(self):
        # Worker processes that never come up: every child the local cluster spawns stops in
        # its first statement and writes its process id, so the start can only time out.
        hook = os.path.join(self.dir, "hook")
        os.mkdir(hook)
        with open(os.path.join(hook, "sitecustomize.py"), "w") as f:
            f.write("""import os, signal, sys
if "--multiprocessing-fork" in sys.argv:
    with open(os.path.join(%r, "child-%%d" %% os.getpid()), "w"):
        pass
    while True:
        signal.pause()
""" % self.dir)
        env = dict(os.environ, PYTHONPATH=hook)
        done = self.Run("--workers", "2", "--timeout", "3", self.log, env=env)
        self.assertEqual(1, done.returncode, done.stderr.decode(errors="replace"))
        self.assertIn("the local cluster did not start 2 workers within 3 s",
                      done.stderr.decode())
        self.assertFalse(os.path.exists(self.db))
        children = [int(n[len("child-"):]) for n in os.listdir(self.dir)
                    if n.startswith("child-")]
        self.assertTrue(children, "no worker process was started")
        WaitFor(lambda: not any(Running(pid) for pid in children),
                "the stalled workers to be ended")


if __name__ == "__main__":
    unittest.main(verbosity=2)
