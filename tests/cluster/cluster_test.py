"""hitsieve-cluster on a real Dask scheduler with two worker processes on loopback, all started
and stopped here, checked table by table against one local `hitsieve-cli analyse`.

Run by ctest with the paths of the programs in the environment:
HITSIEVE_CLI, HITSIEVE_CLUSTER, HITSIEVE_GEN_LOG, HITSIEVE_TEST_DATA.
"""

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

STATS_TABLES = ("common_stats", "page_stats", "referer_stats", "robot_log", "query_stats")
PYTHON = sys.executable
ESCAPING_NAME = "d\x1b[2J\x9b31m.log"  # a file name that would clear a terminal
LONG = 300  # seconds: a guard against a hang, never a measure of speed


def Rows(db, table):
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        connection.text_factory = bytes  # log texts are bytes, not always UTF-8
        return connection.execute("SELECT * FROM %s ORDER BY rec_id" % table).fetchall()


def Tables(db):
    with sqlite3.connect("file:%s?mode=ro" % db, uri=True) as connection:
        return sorted(r[0] for r in connection.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table'"))


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
        after writing its worker's process id and its own to `stalled`."""
        cls.stand_in = cls.Path("stand-in-cli")
        with open(cls.stand_in, "w") as f:
            f.write("""#!/bin/sh
d='%(dir)s'
if [ "$HITSIEVE_TEST_ROLE" = worker ]; then
  if [ "$1" = --version ] && [ -f "$d/fake-version" ]; then cat "$d/fake-version"; exit 0; fi
  if [ "$1" = analyse ] && [ -f "$d/stall" ] && mkdir "$d/stall.taken" 2>/dev/null; then
    echo "$PPID $$" > "$d/stalled.tmp" && mv "$d/stalled.tmp" "$d/stalled"
    exec sleep 600
  fi
fi
exec '%(cli)s' "$@"
""" % {"dir": cls.dir, "cli": CLI})
        os.chmod(cls.stand_in, 0o755)

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
        # Every part merged here, and (with two parts a merge) a tree of merges on the workers.
        for extensions, fan_in in ((None, "0"), ("html; php; zip", "2")):
            with self.subTest(extensions=extensions, fan_in=fan_in):
                option = [] if extensions is None else ["--extensions", extensions]
                local = self.FreshDb("local.dt")
                expected = self.Analyse("--db", local, *option, *files)
                self.AssertOk(expected)
                db = self.FreshDb("cluster.dt")
                done = self.Cluster("--db", db, "--fan-in", fan_in, *option, *files)
                self.AssertOk(done)
                self.AssertSameStatistics(local, db)
                self.assertEqual(re.search(rb": (\d+) lines", expected.stdout).group(1),
                                 re.search(rb": (\d+) lines", done.stdout).group(1))
                progress = done.stderr.decode()
                self.assertIn("%d/%d tasks done" % (len(files) - 1, len(files) - 1), progress)
                self.assertIn(" read (", progress)
                self.assertNotIn("\x1b", progress)
                self.assertIn("d\\x1b[2J\\x9b31m.log", progress)

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


if __name__ == "__main__":
    unittest.main(verbosity=2)
