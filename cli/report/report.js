// The report's page: the list of pairs and the viewer of one pair. The data
// comes from data.js, a pair's pictures from its own script in pairs/, so
// that the page works opened from disk as well as from a web server.
'use strict';

(function () {
  const report = window.tobrelReport;
  const $ = (id) => document.getElementById(id);
  const pictures = {};   // a pair's index: its data URLs, once its script has run
  const pixels = {};     // a pair's index: the pixels of its expected and actual pictures
  // The zoom is 'fit' (the whole picture in its pane) or a scale.
  const state = { current: -1, view: 'side', zoom: 'fit', scale: 1, wipe: 0.5, shown: 'expected', timer: 0 };

  function statusOf(pair) {
    if (pair.trouble) return 'trouble';
    if (pair.count === 0) return 'same';
    return pair.passed ? 'passed' : 'differing';
  }

  // Trouble first, then the differing pairs by count (those over their
  // limit before those within it), then the equal ones; by path within.
  const rank = { trouble: 0, differing: 1, passed: 2, same: 3 };
  const order = report.pairs.map((pair, index) => index).sort((a, b) => {
    const p = report.pairs[a], q = report.pairs[b];
    const ranks = rank[statusOf(p)] - rank[statusOf(q)];
    if (ranks) return ranks;
    if ((q.count || 0) !== (p.count || 0)) return (q.count || 0) - (p.count || 0);
    return pathOf(p) < pathOf(q) ? -1 : pathOf(p) > pathOf(q) ? 1 : 0;
  });

  function pathOf(pair) {
    return pair.path !== undefined ? pair.path : pair.first + ' ↔ ' + pair.second;
  }

  function countText(pair) {
    if (pair.trouble) return 'trouble';
    if (pair.count === 0) return 'same';
    return pair.count.toLocaleString('en') + (pair.passed ? ' (within the limit)' : '');
  }

  function element(tag, attributes, text) {
    const node = document.createElement(tag);
    Object.entries(attributes || {}).forEach(([key, value]) => node.setAttribute(key, value));
    if (text !== undefined) node.textContent = text;
    return node;
  }

  function showHead() {
    const rule = report.threshold !== undefined ? 'threshold ' + report.threshold : 'tolerance ' + report.tolerance;
    const parts = [rule];
    if (report.antialiasing) parts.push('anti-aliasing set apart');
    if (report.ignored && report.ignored.length) parts.push(report.ignored.length + ' ignored area(s)');
    if (report.max_diff_pixels !== undefined) parts.push('at most ' + report.max_diff_pixels + ' pixels');
    if (report.max_diff_ratio !== undefined) parts.push('at most ' + report.max_diff_ratio + ' of the pixels');
    $('rule').textContent = (report.first !== undefined ? report.first + ' ↔ ' + report.second + ': ' : '') + parts.join(', ');
    const s = report.summary;
    const summary = $('summary');
    [['pairs', ' pairs: '], ['same', ' same, '], ['passed', ' within the limit, '], ['differing', ' differing, '],
     ['trouble', ' in trouble']].forEach(([key, after]) => {
      summary.append(element('span', { 'data-key': key }, String(s[key])), after);
    });
  }

  function showList() {
    const filter = $('filter').value.toLowerCase();
    const list = $('pairs'), equal = $('equal').querySelector('ol');
    list.replaceChildren();
    equal.replaceChildren();
    let equalCount = 0;
    for (const index of order) {
      const pair = report.pairs[index];
      if (filter && !pathOf(pair).toLowerCase().includes(filter)) continue;
      const status = statusOf(pair);
      const item = element('li', { class: status, 'data-index': index });
      item.append(element('span', { class: 'path' }, pathOf(pair)), element('span', { class: 'count' }, countText(pair)));
      if (index === state.current) item.classList.add('current');
      item.addEventListener('click', () => open(index));
      if (status === 'same') {
        equal.append(item);
        ++equalCount;
      } else {
        list.append(item);
      }
    }
    $('equal').querySelector('summary').textContent = equalCount + ' equal pairs';
  }

  // The pairs in the order the list shows them, for j and k.
  function visible() {
    return Array.from(document.querySelectorAll('nav li')).filter((item) => item.offsetParent !== null ||
      !item.closest('details') || item.closest('details').open).map((item) => Number(item.dataset.index));
  }

  function open(index) {
    clearInterval(state.timer);
    state.current = index;
    const pair = report.pairs[index];
    document.querySelectorAll('nav li').forEach((item) => item.classList.toggle('current', Number(item.dataset.index) === index));
    const current = document.querySelector('nav li.current');
    if (current) current.scrollIntoView({ block: 'nearest' });
    $('pair').hidden = false;
    $('pair-path').textContent = pathOf(pair);
    $('pair-count').textContent = pair.trouble ? '' : '— ' + countText(pair) +
      (pair.antialiased ? ', ' + pair.antialiased + ' anti-aliased' : '');
    $('trouble').hidden = !pair.trouble;
    $('trouble').textContent = pair.trouble ? pair.trouble.message + ' (' + pair.trouble.code + ')' : '';
    const failing = statusOf(pair) === 'differing';
    $('accept').hidden = !failing;
    $('accept').querySelector('code').textContent = failing ? acceptCommand(pair) : '';
    $('viewer').hidden = !pair.images;
    if (!pair.images) return;
    showRegions(pair);
    if (pictures[index]) {
      showPictures();
      return;
    }
    $('stage').replaceChildren(element('p', {}, 'Loading…'));
    if (!document.querySelector('script[data-pair="' + index + '"]')) {
      const script = element('script', { src: pair.images, 'data-pair': String(index) });
      script.addEventListener('error', () => $('stage').replaceChildren(element('p', {}, 'The pictures are missing: ' + pair.images)));
      document.head.append(script);
    }
  }

  // Called by each pair's script with its pictures as data URLs.
  window.tobrelReportPair = function (script, urls) {
    const index = Number(script.dataset.pair);
    pictures[index] = urls;
    readPixels(index);
    if (index === state.current) showPictures();
  };

  function readPixels(index) {
    pixels[index] = {};
    ['expected', 'actual'].forEach((side) => {
      const image = new Image();
      image.addEventListener('load', () => {
        const canvas = element('canvas', { width: image.naturalWidth, height: image.naturalHeight });
        const context = canvas.getContext('2d', { willReadFrequently: true });
        context.drawImage(image, 0, 0);
        pixels[index][side] = context.getImageData(0, 0, canvas.width, canvas.height);
      });
      image.src = pictures[index][side];
    });
  }

  function showRegions(pair) {
    const list = $('regions');
    list.replaceChildren();
    (pair.regions || []).forEach((region, k) => {
      const button = element('button', { 'data-region': k },
        region.left + ':' + region.top + '–' + region.right + ':' + region.bottom + ', ' + region.count + ' px');
      button.addEventListener('click', () => goTo(region));
      const item = element('li');
      item.append(button);
      list.append(item);
    });
    if (pair.regions_left_out) list.append(element('li', {}, 'and ' + pair.regions_left_out + ' more'));
  }

  // The command that makes this pair's actual picture the expected one: the
  // path as --only's pattern, its pattern characters escaped, quoted for a
  // POSIX shell.
  function acceptCommand(pair) {
    const command = 'tobrel-diff --accept RESULTS.json';
    if (pair.path === undefined) return command;
    const pattern = pair.path.replace(/[\\*?]/g, '\\$&');
    return command + " --only '" + pattern.replace(/'/g, "'\\''") + "'";
  }

  // The scale that shows the whole picture in a pane of the view: whole
  // steps when it grows, so that pixels stay square.
  function fitScale(pair) {
    const columns = state.view === 'side' ? 3 : 1;
    const width = ($('stage').clientWidth - 8 * (columns - 1)) / columns;
    const height = window.innerHeight * 0.62;
    const scale = Math.min(width / pair.width, height / pair.height);
    return scale >= 1 ? Math.floor(scale) : scale;
  }

  function pane(label, sources) {
    const pair = report.pairs[state.current];
    const box = element('div', { class: 'pane', 'data-pane': label });
    const canvas = element('div', { class: 'canvas' });
    canvas.style.width = pair.width * state.scale + 'px';
    canvas.style.height = pair.height * state.scale + 'px';
    sources.forEach((source) => {
      const image = element('img', { alt: source, 'data-side': source, draggable: 'false' });
      image.src = pictures[state.current][source];
      image.style.width = pair.width * state.scale + 'px';
      image.style.height = pair.height * state.scale + 'px';
      image.addEventListener('mousemove', (event) => point(event.offsetX, event.offsetY));
      canvas.append(image);
    });
    box.append(canvas);
    box.addEventListener('scroll', () => follow(box));
    const column = element('div', { class: 'column' });
    column.append(element('span', { class: 'label' }, label), box);
    return column;
  }

  // Every pane shows the same place: one pans, the others follow.
  function follow(source) {
    document.querySelectorAll('.pane').forEach((other) => {
      if (other === source) return;
      if (other.scrollLeft !== source.scrollLeft) other.scrollLeft = source.scrollLeft;
      if (other.scrollTop !== source.scrollTop) other.scrollTop = source.scrollTop;
    });
  }

  function showPictures() {
    clearInterval(state.timer);
    const stage = $('stage');
    const kept = stage.querySelector('.pane');  // where the view was, kept across views and zooms
    const scroll = kept ? [kept.scrollLeft, kept.scrollTop] : [0, 0];
    stage.replaceChildren();
    const pair = report.pairs[state.current];
    state.scale = state.zoom === 'fit' ? fitScale(pair) : state.zoom;
    $('wipe').hidden = state.view !== 'slider';
    $('blinking').hidden = state.view !== 'blink';
    if (state.view === 'side') {
      stage.append(pane('expected', ['expected']), pane('actual', ['actual']), pane('difference', ['diff']));
    } else if (state.view === 'slider') {
      stage.append(pane('expected | actual', ['expected', 'actual']));
      wipe();
    } else {
      stage.append(pane('blink', ['expected']));
      state.shown = 'expected';
      showBlink();
      state.timer = setInterval(blink, 500);
    }
    document.querySelectorAll('#views button').forEach((b) => b.classList.toggle('on', b.dataset.view === state.view));
    document.querySelectorAll('#zooms button').forEach((b) => b.classList.toggle('on', b.dataset.zoom === String(state.zoom)));
    document.querySelectorAll('.pane').forEach((box) => {
      box.scrollLeft = scroll[0];
      box.scrollTop = scroll[1];
    });
  }

  function wipe() {
    const image = document.querySelector('.pane img[data-side="actual"]');
    if (image) image.style.clipPath = 'inset(0 0 0 ' + (state.wipe * 100) + '%)';
  }

  function blink() {
    state.shown = state.shown === 'expected' ? 'actual' : 'expected';
    showBlink();
  }

  function showBlink() {
    const image = document.querySelector('.pane img');
    if (!image || !pictures[state.current]) return;
    image.src = pictures[state.current][state.shown];
    image.dataset.side = state.shown;
    $('blinking').textContent = state.shown;
  }

  function point(offsetX, offsetY) {
    const x = Math.floor(offsetX / state.scale), y = Math.floor(offsetY / state.scale);
    const read = pixels[state.current] || {};
    const pair = report.pairs[state.current];
    const colour = (side) => {
      const data = read[side];
      if (!data || x < 0 || y < 0 || x >= pair.width || y >= pair.height) return '…';
      // A large pair's pictures come reduced: the pixel that stands for (x, y).
      const at = (Math.floor(y * data.height / pair.height) * data.width + Math.floor(x * data.width / pair.width)) * 4;
      const [r, g, b, a] = data.data.slice(at, at + 4);
      return a === 255 ? 'rgb(' + r + ', ' + g + ', ' + b + ')' : 'rgba(' + r + ', ' + g + ', ' + b + ', ' + a + ')';
    };
    $('pixel').textContent = 'x=' + x + ', y=' + y + '  expected ' + colour('expected') + '  actual ' + colour('actual');
    $('pixel').dataset.x = x;
    $('pixel').dataset.y = y;
  }

  // Brings a region into view in every pane and frames it.
  function goTo(region) {
    const z = state.scale;
    document.querySelectorAll('.pane').forEach((box) => {
      box.querySelectorAll('.mark').forEach((mark) => mark.remove());
      const mark = element('div', { class: 'mark' });
      mark.style.left = region.left * z - 2 + 'px';
      mark.style.top = region.top * z - 2 + 'px';
      mark.style.width = (region.right - region.left + 1) * z + 4 + 'px';
      mark.style.height = (region.bottom - region.top + 1) * z + 4 + 'px';
      box.querySelector('.canvas').append(mark);
    });
    const box = document.querySelector('.pane');
    if (box) {
      box.scrollLeft = Math.max(0, region.left * z - box.clientWidth / 3);
      box.scrollTop = Math.max(0, region.top * z - box.clientHeight / 3);
      follow(box);
    }
  }

  function setZoom(zoom) {
    state.zoom = zoom;
    if (state.current >= 0 && pictures[state.current]) showPictures();
  }

  function setView(view) {
    state.view = view;
    if (state.current >= 0 && pictures[state.current]) showPictures();
  }

  function step(by) {
    const shown = visible();
    const at = shown.indexOf(state.current);
    const next = at < 0 ? shown[0] : shown[at + by];
    if (next !== undefined) open(next);
  }

  document.querySelectorAll('#views button').forEach((b) => b.addEventListener('click', () => setView(b.dataset.view)));
  document.querySelectorAll('#zooms button').forEach((b) => b.addEventListener('click', () =>
    setZoom(b.dataset.zoom === 'fit' ? 'fit' : Number(b.dataset.zoom))));
  window.addEventListener('resize', () => {
    if (state.zoom === 'fit' && state.current >= 0 && pictures[state.current]) showPictures();
  });
  $('wipe').addEventListener('input', () => {
    state.wipe = Number($('wipe').value) / 1000;
    wipe();
  });
  $('filter').addEventListener('input', showList);
  document.addEventListener('keydown', (event) => {
    if (event.target === $('filter') || event.ctrlKey || event.metaKey || event.altKey) return;
    const views = ['side', 'slider', 'blink'];
    if (event.key === 'j') step(1);
    else if (event.key === 'k') step(-1);
    else if (event.key >= '1' && event.key <= '4') setZoom([1, 2, 4, 8][Number(event.key) - 1]);
    else if (event.key === '0') setZoom('fit');
    else if (event.key === 'v') setView(views[(views.indexOf(state.view) + 1) % views.length]);
    else if (event.key === 'b' && state.view === 'blink') {
      clearInterval(state.timer);
      blink();
    } else return;
    event.preventDefault();
  });

  showHead();
  showList();
  // A reviewer starts where the work is: the first pair in trouble or over
  // its limit.
  if (order.length && ['trouble', 'differing'].includes(statusOf(report.pairs[order[0]]))) open(order[0]);
})();
