'use strict';
// The report page's script. The statistics come from the JSON element "report-data"; every text
// from a log is put into the page with textContent or as an attribute value, never as markup.
// The tables keep all their rows in memory and draw one page of them at a time.
(function () {
  var scriptStart = performance.now();
  var SVG = 'http://www.w3.org/2000/svg';
  var MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];
  // The page speaks the language of its lang attribute. Its texts are written here in Russian;
  // an English page's data carries their English versions ("texts"), keyed by the Russian.
  var ENGLISH = document.documentElement.lang === 'en';
  var TEXTS = {};
  function translated(text) { return TEXTS[text] !== undefined ? TEXTS[text] : text; }
  // Russian writes a decimal comma.
  function decimalText(fixed) { return ENGLISH ? fixed : fixed.replace('.', ','); }
  var SERIES = [
    { column: 1, name: 'Хосты', color: '#1f77b4' },
    { column: 2, name: 'Посетители', color: '#2ca02c' },
    { column: 3, name: 'Просмотры', color: '#ff7f0e' },
    { column: 4, name: 'Searches', color: '#9467bd' }
  ];
  var PAGE_SIZES = [25, 50, 100, 500, 1000];
  var data;

  // A large report's data is gzip-compressed and base64-encoded (see data-encoding); the browser
  // inflates it itself. Either way the result is the same JSON.
  function loadData() {
    var element = document.getElementById('report-data');
    if (element.dataset.encoding !== 'gzip-base64') return Promise.resolve(JSON.parse(element.textContent));
    var binary = atob(element.textContent), bytes = new Uint8Array(binary.length);
    for (var i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
    var stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream('gzip'));
    return new Response(stream).text().then(JSON.parse);
  }

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }
  function svg(tag, attributes) {
    var node = document.createElementNS(SVG, tag);
    for (var name in attributes) node.setAttribute(name, attributes[name]);
    return node;
  }

  // Day keys are "dd/Mon/yyyy" as the log wrote them; anything else has no place in the calendar.
  var dayCache = new Map();
  function dayNumber(text) {
    var cached = dayCache.get(text);
    if (cached !== undefined) return cached;
    var value = NaN;
    var m = /^(\d\d)\/([A-Z][a-z]{2})\/(\d{4})$/.exec(text);
    if (m) {
      var day = +m[1], month = MONTHS.indexOf(m[2]) + 1, year = +m[3];
      var leap = (year % 4 === 0 && year % 100 !== 0) || year % 400 === 0;
      var length = [31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31][month - 1];
      if (month > 0 && day >= 1 && day <= length && year >= 1) value = year * 10000 + month * 100 + day;
    }
    dayCache.set(text, value);
    return value;
  }
  // Years keep four digits: 0009 stays year 9, never 1909.
  function isoDay(number) {
    var s = String(number).padStart(8, '0');
    return s.slice(0, 4) + '-' + s.slice(4, 6) + '-' + s.slice(6, 8);
  }
  function dayFromIso(text) {
    var m = /^(\d{4})-(\d\d)-(\d\d)$/.exec(text);
    return m ? +m[1] * 10000 + +m[2] * 100 + +m[3] : NaN;
  }
  // Days since 1970-01-01 by arithmetic: Date.UTC would take years 0 to 99 for 1900 to 1999.
  function epochDay(number) {
    var y = Math.floor(number / 10000), m = Math.floor(number / 100) % 100, d = number % 100;
    if (m <= 2) y -= 1;
    var era = Math.floor(y / 400), yoe = y - era * 400;
    var doy = Math.floor((153 * (m > 2 ? m - 3 : m + 9) + 2) / 5) + d - 1;
    return era * 146097 + yoe * 365 + Math.floor(yoe / 4) - Math.floor(yoe / 100) + doy - 719468;
  }
  function dayLabel(number) {
    return String(number % 100).padStart(2, '0') + '/' + MONTHS[Math.floor(number / 100) % 100 - 1] +
      '/' + String(Math.floor(number / 10000)).padStart(4, '0');
  }

  function dashOrDecimal(value) { return value > 0 ? String(value) : '-'; }
  function megabytes(value) { return decimalText((value / 1048576).toFixed(2)); }
  function grouped(value) { return String(value).replace(/\B(?=(\d{3})+(?!\d))/g, '\u202F'); }
  function isWebLink(url) { return /^https?:\/\/./i.test(url); }

  // Controls and the characters that reorder or hide text (bidi controls and isolates, the
  // Arabic letter mark, zero-width and invisible format characters, line separators): never
  // shown, whatever the data says.
  var CONTROLS = /[\u0000-\u001f\u007f-\u009f\u061c\u180e\u200b-\u200f\u2028-\u202e\u2060-\u2064\u2066-\u206f\ufeff\ufff9-\ufffb]|\udb40[\udc00-\udc7f]/g;
  // What a cell shows of a text: controls as U+FFFD, and no more than CELL_LIMIT characters
  // (a 20,000-character phrase would fill the screen); the whole text is in the tooltip.
  var CELL_LIMIT = 300;
  function cellText(text) {
    text = text.replace(CONTROLS, '\uFFFD');
    return text.length > CELL_LIMIT ? Array.from(text).slice(0, CELL_LIMIT).join('') + '…' : text;
  }
  // A referer as people read it: the data gives it (index 3) when it differs from the text as
  // stored, with the host as the browser will open it and the rest decoded.
  function readableOf(row) {
    return typeof row[3] === 'string' ? row[3] : row[0];
  }

  // How a column shows, sorts and totals its cells.
  var KINDS = {
    text: { show: function (v) { return v; }, key: function (v) { return v.toLowerCase(); }, text: true },
    day: { show: function (v) { return v; }, key: dayNumber, text: true, day: true },
    count: { show: dashOrDecimal, key: Number, total: dashOrDecimal, numeric: true },
    megabytes: { show: megabytes, key: Number, total: megabytes, numeric: true },
    decimal: { show: String, key: Number, numeric: true },
    number: { show: String, key: Number, total: String, numeric: true },
    share: { show: function (v) { return decimalText(v.toFixed(2)); }, key: Number, numeric: true },
    referer: {
      show: function (v, row) { return readableOf(row); },
      key: function (v, row) { return readableOf(row).toLowerCase(); },
      text: true, referer: true
    }
  };

  function compareKeys(a, b) {
    // NaN (a day key that is no date) sorts after every date.
    var an = a !== a, bn = b !== b;
    if (an || bn) return an === bn ? 0 : an ? 1 : -1;
    return a < b ? -1 : a > b ? 1 : 0;
  }

  // A sortable, filtered, paged table over `layout.rows`. The host element carries the shown row
  // count, the page and the number of pages as data attributes.
  function Table(host, layout) {
    this.host = host;
    this.layout = layout;
    this.rows = layout.rows;
    this.columns = layout.columns.map(function (name) { return { kind: KINDS[name] }; });
    this.keys = [];
    this.haystacks = null;
    this.sortColumn = layout.sortColumn === undefined ? -1 : layout.sortColumn;
    this.sortDescending = false;
    this.filterText = '';
    this.choice = '';
    this.include = null;
    this.pageSize = layout.pageSize || 50;
    this.page = 0;
    this.build();
    this.sort();
  }
  Table.prototype.build = function () {
    var self = this;
    var tools = el('div', 'tools');
    this.filterBox = el('input', 'filter');
    this.filterBox.type = 'search';
    this.filterBox.placeholder = translated('Фильтр');
    this.filterBox.setAttribute('aria-label', translated('Фильтр'));
    var timer = 0;
    this.filterBox.addEventListener('input', function () {
      clearTimeout(timer);
      timer = setTimeout(function () { self.setFilter(self.filterBox.value); }, 150);
    });
    tools.appendChild(this.filterBox);
    if (this.layout.choices) {
      this.choiceBox = el('select', 'choice');
      this.choiceBox.appendChild(new Option(translated('Все'), ''));
      this.layout.choices.forEach(function (name) { self.choiceBox.appendChild(new Option(name, name)); });
      this.choiceBox.addEventListener('change', function () { self.choice = self.choiceBox.value; self.refilter(); });
      tools.appendChild(this.choiceBox);
    }
    this.info = el('span', 'info');
    tools.appendChild(this.info);
    this.host.appendChild(tools);
    var wrap = el('div', 'scroll');
    var table = el('table');
    var head = el('thead');
    var headRow = el('tr');
    this.headers = this.layout.titles.map(function (title, index) {
      var th = el('th', self.columns[index].kind.numeric ? 'num' : '', title);
      th.tabIndex = 0;
      th.title = translated('Сортировать');
      var sortBy = function () { self.sortBy(index); };
      th.addEventListener('click', sortBy);
      th.addEventListener('keydown', function (e) { if (e.key === 'Enter') sortBy(); });
      headRow.appendChild(th);
      return th;
    });
    head.appendChild(headRow);
    this.totalsBody = el('tbody', 'totals');
    this.body = el('tbody');
    table.appendChild(head);
    table.appendChild(this.totalsBody);
    table.appendChild(this.body);
    wrap.appendChild(table);
    this.host.appendChild(wrap);
    this.pager = el('div', 'pager');
    this.host.appendChild(this.pager);
  };
  Table.prototype.keyOf = function (column) {
    if (!this.keys[column]) {
      var kind = this.columns[column].kind;
      this.keys[column] = this.rows.map(function (row) { return kind.key(row[column], row); });
    }
    return this.keys[column];
  };
  Table.prototype.sortBy = function (column) {
    if (this.sortColumn === column) {
      this.sortDescending = !this.sortDescending;
    } else {
      this.sortColumn = column;
      this.sortDescending = this.columns[column].kind.numeric;  // biggest first
    }
    this.sort();
  };
  Table.prototype.sort = function () {
    var order = this.rows.map(function (row, index) { return index; });
    if (this.sortColumn >= 0) {
      var keys = this.keyOf(this.sortColumn), rows = this.rows, column = this.sortColumn;
      var sign = this.sortDescending ? -1 : 1, day = this.columns[column].kind.day;
      order.sort(function (a, b) {
        var c = compareKeys(keys[a], keys[b]);
        if (c === 0 && day) c = rows[a][column] < rows[b][column] ? -1 : rows[a][column] > rows[b][column] ? 1 : 0;
        return sign * c || a - b;
      });
    }
    this.order = order;
    var self = this;
    this.headers.forEach(function (th, index) {
      th.setAttribute('aria-sort', index !== self.sortColumn ? 'none' :
        self.sortDescending ? 'descending' : 'ascending');
    });
    this.refilter();
  };
  Table.prototype.haystack = function (index) {
    if (!this.haystacks) this.haystacks = new Array(this.rows.length);
    var text = this.haystacks[index];
    if (text === undefined) {
      var row = this.rows[index], parts = [];
      this.columns.forEach(function (c, k) {
        if (!c.kind.text) return;
        parts.push(row[k]);
        if (c.kind.referer) parts.push(readableOf(row));
      });
      text = this.haystacks[index] = parts.join('\n').toLowerCase();
    }
    return text;
  };
  Table.prototype.setFilter = function (text) {
    this.filterText = text.toLowerCase();
    this.refilter();
  };
  // New rows in place of the old, kept in the chosen order.
  Table.prototype.setRows = function (rows) {
    this.rows = rows;
    this.keys = [];
    this.haystacks = null;
    this.sort();
  };
  // `include(row)` limits the rows further (the date range); null shows them all.
  Table.prototype.setInclude = function (include) {
    this.include = include;
    this.refilter();
  };
  Table.prototype.refilter = function () {
    var self = this, query = this.filterText, include = this.include, choice = this.choice;
    var choiceColumn = this.layout.choiceColumn;
    if (!query && !include && !choice) {
      this.view = this.order;
    } else {
      this.view = this.order.filter(function (index) {
        var row = self.rows[index];
        if (include && !include(row)) return false;
        if (choice && row[choiceColumn] !== choice) return false;
        return !query || self.haystack(index).indexOf(query) >= 0;
      });
    }
    this.page = 0;
    this.render();
    if (this.onChange) this.onChange(this);
  };
  Table.prototype.pages = function () { return Math.max(1, Math.ceil(this.view.length / this.pageSize)); };
  Table.prototype.render = function () {
    var self = this;
    var first = this.page * this.pageSize;
    var shown = this.view.slice(first, first + this.pageSize);
    var fragment = document.createDocumentFragment();
    shown.forEach(function (index) { fragment.appendChild(self.rowElement(self.rows[index])); });
    if (shown.length === 0) {
      var empty = el('tr', 'empty');
      var cell = el('td', '', this.rows.length ? translated('Нет строк, подходящих под условия') : translated('Нет данных'));
      cell.colSpan = this.columns.length;
      empty.appendChild(cell);
      fragment.appendChild(empty);
    }
    this.body.replaceChildren(fragment);
    this.renderTotals();
    this.renderPager(first, shown.length);
    this.host.dataset.rows = this.view.length;
    this.host.dataset.page = this.page + 1;
    this.host.dataset.pages = this.pages();
  };
  Table.prototype.rowElement = function (row) {
    var tr = el('tr');
    this.columns.forEach(function (c, k) {
      var value = row[k], kind = c.kind;
      var td = el('td', kind.numeric ? 'num' : '');
      if (!kind.text) {
        td.textContent = kind.show(value, row);
      } else {
        var shown = kind.show(value, row), text = cellText(shown);
        var target = td;
        if (kind.referer && row[2] === 1 && isWebLink(value)) {
          target = el('a');
          target.href = value;
          target.rel = 'noopener noreferrer nofollow';
          target.target = '_blank';
          td.appendChild(target);
        }
        target.textContent = text;
        if (text !== value) target.title = (kind.referer ? value : shown).replace(CONTROLS, '\uFFFD');
      }
      tr.appendChild(td);
    });
    return tr;
  };
  Table.prototype.renderTotals = function () {
    if (!this.layout.totals) return;
    var self = this, sums = this.columns.map(function () { return 0; });
    this.view.forEach(function (index) {
      var row = self.rows[index];
      self.columns.forEach(function (c, k) { if (c.kind.total) sums[k] += row[k]; });
    });
    var tr = el('tr');
    this.columns.forEach(function (c, k) {
      tr.appendChild(el('td', c.kind.numeric ? 'num' : '', k === 0 ? translated('Итого') : c.kind.total ? c.kind.total(sums[k]) : ''));
    });
    this.totalsBody.replaceChildren(tr);
  };
  Table.prototype.renderPager = function (first, count) {
    var self = this, pages = this.pages();
    this.info.textContent = this.view.length === this.rows.length
      ? translated('Строк: ') + grouped(this.rows.length)
      : translated('Строк: ') + grouped(this.view.length) + translated(' из ') + grouped(this.rows.length);
    var go = function (label, page, title) {
      var button = el('button', '', label);
      button.type = 'button';
      button.title = title;
      button.disabled = page < 0 || page >= pages || page === self.page;
      button.addEventListener('click', function () { self.page = page; self.render(); });
      return button;
    };
    var size = el('select', 'page-size');
    size.setAttribute('aria-label', translated('Строк на странице'));
    PAGE_SIZES.forEach(function (n) {
      var option = new Option(n + translated(' на странице'), n);
      option.selected = n === self.pageSize;
      size.appendChild(option);
    });
    size.addEventListener('change', function () { self.pageSize = +size.value; self.page = 0; self.render(); });
    var where = el('span', 'where', count ? translated('строки ') + grouped(first + 1) + '–' + grouped(first + count) +
      translated(', страница ') + (this.page + 1) + translated(' из ') + pages : translated('страница 1 из 1'));
    this.pager.replaceChildren(go('«', 0, translated('Первая страница')), go('‹', this.page - 1, translated('Предыдущая страница')),
      where, go('›', this.page + 1, translated('Следующая страница')), go('»', pages - 1, translated('Последняя страница')), size);
  };

  // The daily chart: one line per series over the days of the range, values on hover, and a drag
  // that selects a range of days.
  function DailyChart(host, onRange) {
    this.host = host;
    this.onRange = onRange;
    this.hidden = {};
    this.days = [];
    var self = this;
    this.legend = el('div', 'legend');
    SERIES.forEach(function (series) {
      var button = el('button', 'series', translated(series.name));
      button.type = 'button';
      button.setAttribute('aria-pressed', 'true');
      var swatch = el('span', 'swatch');
      swatch.style.background = series.color;
      button.prepend(swatch);
      button.addEventListener('click', function () {
        self.hidden[series.column] = !self.hidden[series.column];
        button.setAttribute('aria-pressed', self.hidden[series.column] ? 'false' : 'true');
        self.draw();
      });
      self.legend.appendChild(button);
    });
    this.area = el('div', 'plot');
    this.tip = el('div', 'tip');
    this.tip.hidden = true;
    host.appendChild(this.legend);
    host.appendChild(this.area);
    this.area.appendChild(this.tip);
    window.addEventListener('resize', function () { self.draw(); });
  }
  DailyChart.prototype.show = function (days) {
    this.days = days;  // rows with a calendar day, in calendar order
    this.draw();
  };
  DailyChart.prototype.draw = function () {
    var self = this, days = this.days;
    var width = Math.max(320, this.area.clientWidth || 900), height = 280;
    var left = 64, right = 16, top = 12, bottom = 36;
    var plot = svg('svg', { width: width, height: height, viewBox: '0 0 ' + width + ' ' + height, role: 'img',
      'aria-label': translated('Ежедневная статистика') });
    this.host.dataset.days = days.length;
    if (this.svg) this.svg.remove();
    this.svg = plot;
    this.area.insertBefore(plot, this.tip);
    if (!days.length) {
      var none = svg('text', { x: width / 2, y: height / 2, 'text-anchor': 'middle', class: 'axis' });
      none.textContent = translated('Нет дней для графика');
      plot.appendChild(none);
      return;
    }
    var shown = SERIES.filter(function (s) { return !self.hidden[s.column]; });
    var max = 0;
    days.forEach(function (d) { shown.forEach(function (s) { max = Math.max(max, d.row[s.column]); }); });
    var step = niceStep(max / 4 || 1), top_value = Math.max(step, Math.ceil(max / step) * step);
    var t0 = epochDay(days[0].day), t1 = epochDay(days[days.length - 1].day);
    var x = function (d) {
      return t1 === t0 ? left + (width - left - right) / 2 : left + (epochDay(d) - t0) / (t1 - t0) * (width - left - right);
    };
    var y = function (v) { return top + (1 - v / top_value) * (height - top - bottom); };
    for (var v = 0; v <= top_value + step / 2; v += step) {
      plot.appendChild(svg('line', { x1: left, x2: width - right, y1: y(v), y2: y(v), class: 'grid' }));
      var label = svg('text', { x: left - 6, y: y(v) + 4, 'text-anchor': 'end', class: 'axis' });
      label.textContent = grouped(v);
      plot.appendChild(label);
    }
    var ticks = Math.min(days.length, Math.max(2, Math.floor((width - left - right) / 110)));
    for (var i = 0; i < ticks; ++i) {
      var d = days[Math.round(i * (days.length - 1) / Math.max(1, ticks - 1))];
      var anchor = ticks === 1 ? 'middle' : i === 0 ? 'start' : i === ticks - 1 ? 'end' : 'middle';
      var tick = svg('text', { x: x(d.day), y: height - bottom + 18, 'text-anchor': anchor, class: 'axis' });
      tick.textContent = dayLabel(d.day);
      plot.appendChild(tick);
    }
    this.xs = days.map(function (d) { return x(d.day); });
    shown.forEach(function (s) {
      var points = days.map(function (d, k) { return self.xs[k].toFixed(1) + ',' + y(d.row[s.column]).toFixed(1); });
      plot.appendChild(svg('polyline', { points: points.join(' '), fill: 'none', stroke: s.color, 'stroke-width': 2,
        class: 'series-line', 'data-series': s.column }));
      if (days.length <= 62) {
        days.forEach(function (d, k) {
          plot.appendChild(svg('circle', { cx: self.xs[k], cy: y(d.row[s.column]), r: 3, fill: s.color }));
        });
      }
    });
    this.cursor = svg('line', { x1: 0, x2: 0, y1: top, y2: height - bottom, class: 'cursor', visibility: 'hidden' });
    this.selection = svg('rect', { x: 0, y: top, width: 0, height: height - top - bottom, class: 'selection',
      visibility: 'hidden' });
    plot.appendChild(this.cursor);
    plot.appendChild(this.selection);
    var overlay = svg('rect', { x: left, y: top, width: width - left - right, height: height - top - bottom,
      fill: 'transparent', class: 'overlay' });
    plot.appendChild(overlay);
    this.bindPointer(overlay);
  };
  DailyChart.prototype.nearest = function (px) {
    var xs = this.xs, lo = 0, hi = xs.length - 1;
    while (lo < hi) {
      var mid = (lo + hi) >> 1;
      if (xs[mid] < px) lo = mid + 1; else hi = mid;
    }
    return lo > 0 && px - xs[lo - 1] < xs[lo] - px ? lo - 1 : lo;
  };
  DailyChart.prototype.bindPointer = function (overlay) {
    var self = this, start = null;
    var localX = function (e) { return e.clientX - self.svg.getBoundingClientRect().left; };
    overlay.addEventListener('pointerdown', function (e) {
      start = localX(e);
      overlay.setPointerCapture(e.pointerId);
    });
    overlay.addEventListener('pointermove', function (e) {
      var px = localX(e);
      self.hover(self.nearest(px), px);
      if (start !== null) {
        self.selection.setAttribute('x', Math.min(start, px));
        self.selection.setAttribute('width', Math.abs(px - start));
        self.selection.setAttribute('visibility', 'visible');
      }
    });
    overlay.addEventListener('pointerup', function (e) {
      if (start === null) return;
      var px = localX(e), from = self.nearest(Math.min(start, px)), to = self.nearest(Math.max(start, px));
      start = null;
      overlay.releasePointerCapture(e.pointerId);
      self.selection.setAttribute('visibility', 'hidden');
      if (from !== to) self.onRange(self.days[from].day, self.days[to].day);
    });
    overlay.addEventListener('pointerleave', function () {
      if (start !== null) return;
      self.cursor.setAttribute('visibility', 'hidden');
      self.tip.hidden = true;
    });
  };
  DailyChart.prototype.hover = function (index, px) {
    var d = this.days[index];
    this.cursor.setAttribute('x1', this.xs[index]);
    this.cursor.setAttribute('x2', this.xs[index]);
    this.cursor.setAttribute('visibility', 'visible');
    var lines = [el('strong', '', d.row[0])];
    SERIES.forEach(function (s) { lines.push(el('div', '', translated(s.name) + ': ' + grouped(d.row[s.column]))); });
    this.tip.replaceChildren.apply(this.tip, lines);
    this.tip.hidden = false;
    var width = this.area.clientWidth;
    this.tip.style.left = Math.min(Math.max(0, this.xs[index] + 12), Math.max(0, width - 180)) + 'px';
    this.tip.style.top = '16px';
  };
  function niceStep(raw) {
    var power = Math.pow(10, Math.floor(Math.log10(raw)));
    var n = raw / power;
    return (n <= 1 ? 1 : n <= 2 ? 2 : n <= 5 ? 5 : 10) * power;
  }

  // The date range above the chart: two date fields and a reset; a drag on the chart fills them.
  // The chart shows the busy stretch of the calendar that the data names ("chart"): a day far
  // from the others, or a key that is no date, is left out and counted in a note.
  // `onRange(range)` hears of every change of the range, and of the first: range.limited, and
  // range.inside(day) and range.charted(day) for a yyyymmdd day number (charted: on the daily
  // chart, which shows the busy stretch when no range is chosen), range.days (the daily chart's
  // days), range.from and range.to (the ends as labels).
  function setUpDaily(onRange) {
    var first = data.chart[0], last = data.chart[1];
    var calendar = data.days.map(function (row) { return { day: dayNumber(row[0]), row: row }; })
      .filter(function (d) { return d.day === d.day && d.day >= first && d.day <= last; })
      .sort(function (a, b) { return a.day - b.day; });
    var leftOut = data.days.length - calendar.length;
    var range = document.getElementById('range');
    var from = el('input'), to = el('input'), reset = el('button', '', translated('Весь период')), status = el('span', 'info');
    from.type = to.type = 'date';
    from.id = 'range-from';
    to.id = 'range-to';
    reset.type = 'button';
    reset.id = 'range-reset';
    if (calendar.length) {
      from.min = to.min = isoDay(calendar[0].day);
      from.max = to.max = isoDay(calendar[calendar.length - 1].day);
    }
    var labelled = function (text, input) { var label = el('label', '', text + ' '); label.appendChild(input); return label; };
    range.append(labelled(translated('С'), from), ' ', labelled(translated('по'), to), ' ', reset, ' ', status);
    if (leftOut > 0) {
      var note = el('p', 'note', translated('Не на графике: ') + grouped(leftOut) +
        translated(' (не даты или дальше года от основного периода); они есть в таблице.'));
      note.id = 'chart-left-out';
      range.appendChild(note);
    }
    var table = new Table(document.getElementById('days-table'), {
      titles: data.titles.days, rows: data.days, columns: ['day', 'count', 'count', 'count', 'count'],
      totals: true, sortColumn: 0, pageSize: 100
    });
    var chart = new DailyChart(document.getElementById('chart'), function (a, b) {
      from.value = isoDay(a);
      to.value = isoDay(b);
      apply();
    });
    function apply() {
      var lo = dayFromIso(from.value), hi = dayFromIso(to.value);
      if (lo === lo && hi === hi && lo > hi) { var t = lo; lo = hi; hi = t; }
      var limited = lo === lo || hi === hi;
      var inside = function (day) { return day === day && !(day < lo) && !(day > hi); };
      var days = calendar.filter(function (d) { return !limited || inside(d.day); });
      chart.show(days);
      table.setInclude(limited ? function (row) { return inside(dayNumber(row[0])); } : null);
      status.textContent = limited ? translated('Дней в диапазоне: ') + days.length + translated(' из ') + calendar.length : '';
      var charted = limited ? inside : function (day) { return day === day && day >= first && day <= last; };
      onRange({ limited: limited, inside: inside, charted: charted, days: days.map(function (d) { return d.day; }),
        from: lo === lo ? dayLabel(lo) : calendar.length ? dayLabel(calendar[0].day) : '',
        to: hi === hi ? dayLabel(hi) : calendar.length ? dayLabel(calendar[calendar.length - 1].day) : '' });
    }
    from.addEventListener('change', apply);
    to.addEventListener('change', apply);
    reset.addEventListener('click', function () { from.value = ''; to.value = ''; apply(); });
    apply();
  }

  // One panel per crawler: its requests per day as bars, and its status codes.
  function crawlerPanel(crawler) {
    var name = crawler[0], total = crawler[1];
    var panel = el('article', 'crawler');
    panel.dataset.crawler = name;
    panel.appendChild(el('h3', '', name));
    panel.appendChild(el('p', 'info', translated('Запросов: ') + grouped(total)));
    var days = crawler[2].map(function (d) { return { day: dayNumber(d[0]), text: d[0], count: d[1] }; })
      .filter(function (d) { return d.day === d.day; }).sort(function (a, b) { return a.day - b.day; });
    var width = 360, height = 120, max = 1;
    days.forEach(function (d) { max = Math.max(max, d.count); });
    var bars = svg('svg', { width: width, height: height, viewBox: '0 0 ' + width + ' ' + height, class: 'bars' });
    var slot = days.length ? (width - 8) / days.length : 0;
    days.forEach(function (d, k) {
      var h = Math.max(1, d.count / max * (height - 20));
      var bar = svg('rect', { x: 4 + k * slot, y: height - 16 - h, width: Math.max(1, slot - 1), height: h });
      var title = svg('title', {});
      title.textContent = d.text + ': ' + grouped(d.count);
      bar.appendChild(title);
      bars.appendChild(bar);
    });
    if (days.length) {
      var first = svg('text', { x: 4, y: height - 3, class: 'axis' });
      first.textContent = days[0].text;
      var last = svg('text', { x: width - 4, y: height - 3, 'text-anchor': 'end', class: 'axis' });
      last.textContent = days[days.length - 1].text;
      bars.append(first, last);
    }
    panel.appendChild(bars);
    var codes = el('table', 'codes');
    var head = el('tr');
    head.append(el('th', '', translated('Код')), el('th', 'num', translated('Запросы')), el('th', 'num', translated('Доля')));
    codes.appendChild(head);
    crawler[3].forEach(function (c) {
      var tr = el('tr');
      tr.append(el('td', '', String(c[0])), el('td', 'num', grouped(c[1])),
        el('td', 'num', decimalText((100 * c[1] / total).toFixed(1)) + ' %'));
      codes.appendChild(tr);
    });
    panel.appendChild(codes);
    return panel;
  }

  // The panels of the dimension reports, drawn from their descriptions in the data ("panels"):
  // the report's rows as a table (with each row's share of the total where the description asks
  // for one), and a chart where one reads better than the table. A report with daily rows follows
  // the date range: its rows are then the sums of its daily rows over the days of the range.
  var PANEL_CHARTS = {
    status: { chart: 'stacked', category: function (row) { return statusClass(String(row[0])); } },
    hours: { chart: 'hours', everyKey: true },
    browsers: { chart: 'top' },
    systems: { chart: 'top' },
    countries: { chart: 'top' },
    engines: { chart: 'top' },
    crawlers: { chart: 'stacked', categoryColumn: 'category', valueColumn: 'requests' }
  };
  var CLASS_COLORS = { '1xx': '#8c8c8c', '2xx': '#2ca02c', '3xx': '#1f77b4', '4xx': '#ff7f0e', '5xx': '#d62728' };
  var PALETTE = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b', '#e377c2', '#7f7f7f',
    '#bcbd22', '#17becf'];
  function statusClass(code) { return /^[1-5]\d\d$/.test(code) ? code.charAt(0) + 'xx' : translated('другие'); }
  function labelText(value) {
    var text = cellText(String(value));
    return text === '' ? translated('(пусто)') : text;
  }

  function Panel(shape) {
    var self = this, id = 'panel-' + shape.name;
    this.shape = shape;
    this.kind = PANEL_CHARTS[shape.name] || {};
    this.section = document.getElementById(id);
    this.note = document.getElementById(id + '-note');
    this.chartHost = document.getElementById(id + '-chart');
    this.section.dataset.counted = shape.counted ? '1' : '0';
    if (!shape.counted) {
      this.note.textContent = translated('Не подсчитано в этой статистике: она составлена раньше или дополнена запуском без этого отчёта; его подсчитает новый анализ без --add.');
      this.note.className = 'note not-counted';
      return;
    }
    var column = function (name, otherwise) { var k = shape.columns.indexOf(name); return k >= 0 ? k : otherwise; };
    var firstCount = shape.numeric.indexOf(1, 1);
    this.value = shape.share >= 0 ? shape.share : column(this.kind.valueColumn, firstCount >= 0 ? firstCount : 0);
    this.label = column('name', column('country', 0));
    if (this.kind.categoryColumn) {
      var at = column(this.kind.categoryColumn, 0);
      this.category = function (row) { return String(row[at]); };
    } else {
      this.category = this.kind.category;
    }
    if (this.kind.chart === 'stacked' && !this.category) this.kind = {};
    this.daily = shape.daily ? shape.daily.map(function (r) {
      return { day: dayNumber(shape.days[r[0]]), text: shape.days[r[0]], row: r.slice(1) };
    }) : null;
    // Counts are totalled, except the number of days a row was seen.
    var columns = shape.numeric.map(function (numeric, k) {
      return !numeric ? 'text' : DAY_COLUMNS[shape.columns[k]] === 'count' ? 'decimal' : 'number';
    });
    if (shape.share >= 0) columns.push('share');
    this.table = new Table(document.getElementById(id + '-table'), {
      titles: shape.titles, rows: this.withShares(shape.rows), columns: columns, totals: true, pageSize: 25
    });
    window.addEventListener('resize', function () { if (self.range) self.draw(); });
  }
  // The rows with the share of the described column after them, of its total over these rows.
  Panel.prototype.withShares = function (rows) {
    var share = this.shape.share;
    if (share < 0) return rows;
    var total = 0;
    rows.forEach(function (row) { total += row[share]; });
    return rows.map(function (row) { return row.concat([total > 0 ? 100 * row[share] / total : 0]); });
  };
  // The daily rows of the days `inside` accepts, added up key by key (the key column and every
  // text), largest first; with everyKey, every key of the whole period in its order, zeros too.
  // Columns that do not add up over days are worked out from the days: the first and the last
  // day, and the number of days.
  var DAY_COLUMNS = { 'first day': 'first', 'last day': 'last', 'days seen': 'count', 'days': 'count' };
  Panel.prototype.rowsIn = function (inside) {
    var numeric = this.shape.numeric, groups = new Map();
    var roles = this.shape.columns.map(function (name, k) { return k > 0 ? DAY_COLUMNS[name] : undefined; });
    var keyOf = function (row) {
      return JSON.stringify(row.filter(function (v, k) { return k === 0 || (!numeric[k] && !roles[k]); }));
    };
    if (this.kind.everyKey) {
      this.shape.rows.forEach(function (row) {
        groups.set(keyOf(row), { row: row.map(function (v, k) { return k > 0 && numeric[k] ? 0 : v; }), days: new Set() });
      });
    }
    this.daily.forEach(function (d) {
      if (!inside(d.day)) return;
      var key = keyOf(d.row), group = groups.get(key);
      if (!group) {
        groups.set(key, { row: d.row.slice(), days: new Set([d.day]), first: d, last: d });
        return;
      }
      for (var k = 1; k < group.row.length; ++k) if (numeric[k] && !roles[k]) group.row[k] += d.row[k];
      group.days.add(d.day);
      if (!group.first || d.day < group.first.day) group.first = d;
      if (!group.last || d.day > group.last.day) group.last = d;
    });
    var rows = Array.from(groups.values()).map(function (group) {
      roles.forEach(function (role, k) {
        if (role === 'count') group.row[k] = group.days.size;
        else if (role && group[role]) group.row[k] = group[role].text;
      });
      return group.row;
    });
    var value = this.value;
    if (!this.kind.everyKey) {
      rows.sort(function (a, b) { return b[value] - a[value] || (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0); });
    }
    return rows;
  };
  Panel.prototype.setRange = function (range) {
    if (!this.shape.counted) return;
    this.range = range;
    var limited = range.limited && this.daily !== null;
    this.rows = limited ? this.rowsIn(range.inside) : this.shape.rows;
    this.table.setRows(this.withShares(this.rows));
    this.section.dataset.limited = limited ? '1' : '0';
    this.note.textContent = !this.daily ? translated('Весь период: у строк этого отчёта нет дат.')
      : limited ? translated('Диапазон дат: ') + range.from + translated(' по ') + range.to
      : translated('Весь период; диапазон дат общей статистики ограничивает эту панель.');
    this.draw();
  };
  Panel.prototype.draw = function () {
    var chart = this.kind.chart;
    if (chart === 'stacked' && this.daily) this.drawStacked();
    else if (chart === 'hours') this.drawHours();
    else if (chart === 'top' || chart === 'stacked') this.drawTop();
  };
  Panel.prototype.canvas = function (height, label) {
    var width = Math.max(320, this.chartHost.clientWidth || 900);
    var plot = svg('svg', { width: width, height: height, viewBox: '0 0 ' + width + ' ' + height, role: 'img',
      class: 'panel-chart', 'aria-label': label });
    this.chartHost.replaceChildren(plot);
    return plot;
  };
  function nothingToChart(plot, width, height) {
    var none = svg('text', { x: width / 2, y: height / 2, 'text-anchor': 'middle', class: 'axis' });
    none.textContent = translated('Нет данных для графика');
    plot.appendChild(none);
  }
  // A value axis from 0 to at least `max`, with grid lines; returns the scale.
  function valueAxis(plot, max, left, right, top, bottom, width, height) {
    var step = niceStep(max / 4 || 1), topValue = Math.max(step, Math.ceil(max / step) * step);
    var y = function (v) { return top + (1 - v / topValue) * (height - top - bottom); };
    for (var v = 0; v <= topValue + step / 2; v += step) {
      plot.appendChild(svg('line', { x1: left, x2: width - right, y1: y(v), y2: y(v), class: 'grid' }));
      var label = svg('text', { x: left - 6, y: y(v) + 4, 'text-anchor': 'end', class: 'axis' });
      label.textContent = grouped(v);
      plot.appendChild(label);
    }
    return y;
  }
  function bar(attributes, tip, dataset) {
    var rect = svg('rect', attributes);
    for (var name in dataset) rect.setAttribute('data-' + name, dataset[name]);
    var title = svg('title', {});
    title.textContent = tip;
    rect.appendChild(title);
    return rect;
  }
  // Per day of the daily chart (and every other day of the range the report has), the value
  // column's sum per category, stacked.
  Panel.prototype.drawStacked = function () {
    var self = this, range = this.range, value = this.value, height = 260;
    var left = 64, right = 12, top = 12, bottom = 40;
    var plot = this.canvas(height, this.shape.title), width = +plot.getAttribute('width');
    var byDay = new Map(), categories = new Map();
    range.days.forEach(function (day) { byDay.set(day, new Map()); });
    this.daily.forEach(function (d) {
      if (!range.charted(d.day)) return;
      var sums = byDay.get(d.day);
      if (!sums) byDay.set(d.day, sums = new Map());
      var category = self.category(d.row);
      sums.set(category, (sums.get(category) || 0) + d.row[value]);
      categories.set(category, (categories.get(category) || 0) + d.row[value]);
    });
    var days = Array.from(byDay.keys()).sort(function (a, b) { return a - b; });
    var names = Array.from(categories.keys()).sort(function (a, b) {
      return self.shape.name === 'status' ? (a < b ? -1 : a > b ? 1 : 0) : categories.get(b) - categories.get(a) || (a < b ? -1 : 1);
    });
    var colors = {};
    names.forEach(function (name, k) { colors[name] = CLASS_COLORS[name] || PALETTE[k % PALETTE.length]; });
    this.chartHost.dataset.days = days.length;
    if (!days.length || !names.length) return nothingToChart(plot, width, height);
    // A category hidden by its legend button leaves the stacks, so that a small one (errors
    // beside the successful requests) can be read on its own scale.
    var hidden = this.hidden = this.hidden || {};
    var stacked = names.filter(function (name) { return !hidden[name]; });
    var max = 0;
    days.forEach(function (day) {
      var t = 0;
      stacked.forEach(function (name) { t += byDay.get(day).get(name) || 0; });
      max = Math.max(max, t);
    });
    var y = valueAxis(plot, max, left, right, top, bottom, width, height);
    var slot = (width - left - right) / days.length, gap = slot > 6 ? Math.min(4, slot * 0.2) : 0;
    days.forEach(function (day, k) {
      var sums = byDay.get(day), base = 0;
      stacked.forEach(function (name) {
        var v = sums.get(name) || 0;
        if (!v) return;
        plot.appendChild(bar({ x: left + k * slot + gap / 2, y: y(base + v), width: Math.max(1, slot - gap),
          height: Math.max(0.5, y(base) - y(base + v)), fill: colors[name], class: 'stack' },
          dayLabel(day) + ' · ' + labelText(name) + ': ' + grouped(v),
          { day: dayLabel(day), category: name, value: v }));
        base += v;
      });
    });
    var ticks = Math.min(days.length, Math.max(2, Math.floor((width - left - right) / 110)));
    for (var i = 0; i < ticks; ++i) {
      var k = Math.round(i * (days.length - 1) / Math.max(1, ticks - 1));
      var tick = svg('text', { x: left + (k + 0.5) * slot, y: height - bottom + 16, 'text-anchor': 'middle', class: 'axis' });
      tick.textContent = dayLabel(days[k]);
      plot.appendChild(tick);
    }
    var legend = el('div', 'legend');
    names.forEach(function (name) {
      var item = el('button', 'series', labelText(name));
      item.type = 'button';
      item.dataset.category = name;
      item.title = translated('Показать или скрыть');
      item.setAttribute('aria-pressed', hidden[name] ? 'false' : 'true');
      item.addEventListener('click', function () { hidden[name] = !hidden[name]; self.draw(); });
      var swatch = el('span', 'swatch');
      swatch.style.background = colors[name];
      item.prepend(swatch);
      legend.appendChild(item);
    });
    this.chartHost.prepend(legend);
  };
  // The value column per hour, 0 to 23.
  Panel.prototype.drawHours = function () {
    var value = this.value, height = 220, left = 64, right = 12, top = 12, bottom = 28;
    var plot = this.canvas(height, translated('Просмотры по часам')), width = +plot.getAttribute('width');
    var hours = [];
    for (var h = 0; h < 24; ++h) hours.push(0);
    this.rows.forEach(function (row) { if (row[0] >= 0 && row[0] < 24) hours[row[0]] += row[value]; });
    var max = Math.max.apply(null, hours);
    var y = valueAxis(plot, max, left, right, top, bottom, width, height);
    var slot = (width - left - right) / 24;
    hours.forEach(function (v, hour) {
      if (v > 0) {
        plot.appendChild(bar({ x: left + hour * slot + 2, y: y(v), width: Math.max(1, slot - 4), height: y(0) - y(v),
          class: 'hour' }, String(hour).padStart(2, '0') + ':00: ' + grouped(v), { hour: hour, value: v }));
      }
      if (hour % 3 === 0) {
        var tick = svg('text', { x: left + (hour + 0.5) * slot, y: height - bottom + 16, 'text-anchor': 'middle', class: 'axis' });
        tick.textContent = String(hour).padStart(2, '0');
        plot.appendChild(tick);
      }
    });
  };
  // The ten largest rows by the value column, as horizontal bars; the table holds every row.
  Panel.prototype.drawTop = function () {
    var value = this.value, label = this.label, line = 24, left = 220, right = 90;
    var top = this.rows.slice().sort(function (a, b) { return b[value] - a[value]; }).slice(0, 10)
      .filter(function (row) { return row[value] > 0; });
    var height = Math.max(60, top.length * line + 28);
    var plot = this.canvas(height, translated('Десять крупнейших')), width = +plot.getAttribute('width');
    if (!top.length) return nothingToChart(plot, width, height);
    var max = top[0][value], total = 0;
    this.rows.forEach(function (row) { total += row[value]; });
    top.forEach(function (row, k) {
      var y = 4 + k * line, w = Math.max(1, (width - left - right) * row[value] / max);
      var name = svg('text', { x: left - 8, y: y + line / 2 + 4, 'text-anchor': 'end', class: 'bar-label' });
      var text = labelText(row[label]);
      name.textContent = text.length > 32 ? Array.from(text).slice(0, 31).join('') + '…' : text;
      plot.appendChild(name);
      plot.appendChild(bar({ x: left, y: y + 3, width: w, height: line - 6, class: 'top' },
        labelText(row[label]) + ': ' + grouped(row[value]), { label: String(row[label]), value: row[value] }));
      var figure = svg('text', { x: left + w + 6, y: y + line / 2 + 4, class: 'axis' });
      figure.textContent = grouped(row[value]) + (total > 0 ? ' (' + decimalText((100 * row[value] / total).toFixed(1)) + ' %)' : '');
      plot.appendChild(figure);
    });
  };

  function setUpNavigation() {
    var nav = document.getElementById('nav');
    document.querySelectorAll('main > section').forEach(function (section) {
      var a = el('a', '', section.querySelector('h2').textContent);
      a.href = '#' + section.id;
      nav.appendChild(a);
    });
  }

  function start() {
    setUpNavigation();
    var dimensionPanels = (data.panels || []).map(function (shape) { return new Panel(shape); });
    setUpDaily(function (range) { dimensionPanels.forEach(function (panel) { panel.setRange(range); }); });
    var tables = {
      pages: { columns: ['text', 'count', 'count', 'megabytes', 'count', 'count', 'count', 'count', 'count', 'count'], totals: true },
      queries: { columns: ['text', 'count', 'count', 'count', 'count', 'count', 'count', 'count'], totals: true },
      hosts: { columns: ['text', 'decimal'] },
      referers: { columns: ['referer', 'decimal'] },
      crawlers: { columns: ['text', 'decimal'] }
    };
    Object.keys(tables).forEach(function (name) {
      var layout = tables[name];
      layout.titles = data.titles[name];
      layout.rows = name === 'crawlers' ? data.crawlers.map(function (c) { return [c[0], c[1]]; }) : data[name];
      new Table(document.getElementById(name + '-table'), layout);
    });
    var panels = document.getElementById('crawler-panels');
    data.crawlers.forEach(function (c) { panels.appendChild(crawlerPanel(c)); });
    var robots = data.robots.map(function (r) {
      return [data.crawlers[r[0]][0], r[1], r[2], r[3], data.robotDays[r[4]]];
    });
    new Table(document.getElementById('robots-table'), {
      titles: data.titles.robots, rows: robots, columns: ['text', 'text', 'decimal', 'text', 'day'],
      sortColumn: 4, choices: data.crawlers.map(function (c) { return c[0]; }), choiceColumn: 0
    });
    window.hitsieveScriptStart = scriptStart;
    window.hitsieveReadyAt = performance.now();
    document.documentElement.setAttribute('data-ready', '1');
  }

  loadData().then(function (loaded) {
    data = loaded;
    TEXTS = data.texts || {};
    start();
  }).catch(function (error) {
    var main = document.querySelector('main');
    main.prepend(el('p', 'note', translated('Не удалось показать отчёт: ') + error));
    throw error;
  });
})();
