// Opens a report of planted pairs in Debian's chromium, headless, and checks
// it against the comparer's JSON: the summary, the order, every view and
// zoom, a region followed, a pixel read, the keys and the filter; then the
// time to first paint of a report of 5,000 pairs. Any console error fails.
// Screenshots are kept for a person to look at.
//
//   node report-test.mjs TOBREL_DIFF WORK_FOLDER
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import puppeteer from 'puppeteer-core';
import { bmp } from './bmp.mjs';

const [tool, work] = process.argv.slice(2);
let passed = 0, failed = 0;
function check(ok, what, detail = '') {
  if (ok) ++passed; else ++failed;
  console.log(`${ok ? 'ok  ' : 'FAIL'}    ${what}${ok || !detail ? '' : ': ' + detail}`);
}

const base = (x, y) => [(x * 5) & 255, (y * 3) & 255, 90];
function plant(root) {
  fs.rmSync(root, { recursive: true, force: true });
  const both = (name, w, h, changed) => {
    bmp(`${root}/expected/${name}`, w, h, base);
    bmp(`${root}/actual/${name}`, w, h, changed || base);
  };
  both('same-a.bmp', 16, 16);
  both('same-b.bmp', 16, 16);
  both('one.bmp', 40, 30, (x, y) => (x === 5 && y === 7 ? [255, 0, 0] : base(x, y)));
  both('block.bmp', 120, 90, (x, y) => (x >= 30 && x < 50 && y >= 40 && y < 50 ? [0, 255, 0] : x === 100 && y === 10 ? [9, 9, 9] : base(x, y)));
  both('sub/many.bmp', 64, 64, (x, y) => ((x + y) % 7 === 0 && y < 8 ? [255, 255, 255] : base(x, y)));
  bmp(`${root}/expected/size.bmp`, 10, 10, base);
  bmp(`${root}/actual/size.bmp`, 12, 10, base);
  bmp(`${root}/expected/only-here.bmp`, 4, 4, base);
}

function compare(root, args) {
  const report = `${root}/report`;
  let out;
  try {
    out = execFileSync(tool, ['--json', '--report', report, ...args, `${root}/expected`, `${root}/actual`],
                      { maxBuffer: 1 << 28 });
  } catch (error) {
    out = error.stdout;  // differences and trouble end with status 1 and 2
  }
  return { json: JSON.parse(out.toString()), index: 'file://' + path.resolve(report, 'index.html') };
}

const shots = path.join(work, 'screenshots');
fs.mkdirSync(shots, { recursive: true });
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--window-size=1280,900'],
  defaultViewport: { width: 1280, height: 900 },
});
const errors = [];
const page = await browser.newPage();
page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
page.on('pageerror', (error) => errors.push(String(error)));

try {
  const root = path.join(work, 'planted');
  plant(root);
  const { json, index } = compare(root, []);
  await page.goto(index, { waitUntil: 'load' });

  // The summary and the order of the list.
  const summary = await page.$$eval('#summary span', (spans) => Object.fromEntries(spans.map((s) => [s.dataset.key, Number(s.textContent)])));
  check(JSON.stringify(summary) === JSON.stringify({ pairs: json.summary.pairs, same: json.summary.same,
    passed: json.summary.passed, differing: json.summary.differing, trouble: json.summary.trouble }),
    'the summary is the JSON summary', JSON.stringify(summary));
  const listed = await page.$$eval('#pairs li .path', (items) => items.map((i) => i.textContent));
  const trouble = json.pairs.filter((p) => p.trouble).map((p) => p.path).sort();
  const differing = json.pairs.filter((p) => !p.trouble && p.count > 0).sort((a, b) => b.count - a.count).map((p) => p.path);
  check(JSON.stringify(listed) === JSON.stringify([...trouble, ...differing]),
    'trouble first, then the differing pairs by count', listed.join(', '));
  const equal = await page.$$eval('#equal li .path', (items) => items.map((i) => i.textContent));
  check(equal.length === 2 && !(await page.$eval('#equal', (d) => d.open)), 'the equal pairs are folded away', equal.join(', '));
  await page.screenshot({ path: `${shots}/list.png` });

  // It opens where the work is, with a small picture fitted to its pane.
  check((await page.$eval('nav li.current .path', (e) => e.textContent)) === listed[0] &&
    !(await page.$eval('#pair', (p) => p.hidden)), 'the report opens on the first pair in trouble or over its limit');
  const one = json.pairs.find((p) => p.path === 'one.bmp');
  await page.click(`#pairs li[data-index="${json.pairs.indexOf(one)}"]`);
  await page.waitForSelector('.pane img[data-side="diff"]');
  const fit = await page.$eval('.pane', (pane) => {
    const img = pane.querySelector('img').getBoundingClientRect();
    return [img.width, img.height, pane.clientWidth, pane.clientHeight];
  });
  const scale = fit[0] / one.width;
  check(Number.isInteger(scale) && scale >= 2 && fit[0] <= fit[2] && fit[1] <= fit[3] &&
    ((scale + 1) * one.width > fit[2] || (scale + 1) * one.height > fit[3]),
    'a small picture is fitted to its pane, in whole steps', JSON.stringify(fit));
  const accept = await page.$eval('#accept', (p) => [p.hidden, p.querySelector('code').textContent]);
  check(!accept[0] && accept[1] === "tobrel-diff --accept RESULTS.json --only 'one.bmp'",
    'a pair over its limit shows the command that accepts it', accept[1]);
  await page.screenshot({ path: `${shots}/fit.png` });

  // A pair in each view and zoom.
  const block = json.pairs.find((p) => p.path === 'block.bmp');
  await page.click(`#pairs li[data-index="${json.pairs.indexOf(block)}"]`);
  await page.waitForSelector('.pane img[data-side="diff"]');
  check((await page.$$('.pane')).length === 3, 'side by side shows expected, actual and difference');
  const count = await page.$eval('#pair-count', (e) => e.textContent);
  check(count.includes(String(block.count)), 'the pair shows its count', count);
  for (const [key, zoom] of [['2', 2], ['3', 4], ['4', 8], ['1', 1]]) {
    await page.keyboard.press(key);
    const width = await page.$eval('.pane img', (img) => img.getBoundingClientRect().width);
    check(width === block.width * zoom, `key ${key} zooms to ${zoom}`, `width ${width}`);
  }
  await page.keyboard.press('4');
  const rendering = await page.$eval('.pane img', (img) => getComputedStyle(img).imageRendering);
  check(rendering === 'pixelated' || rendering === 'crisp-edges', 'zoomed pixels stay crisp', rendering);

  // A region followed: the panes scroll to it together and frame it.
  const regions = await page.$$eval('#regions button', (b) => b.map((x) => x.textContent));
  check(regions.length === block.regions.length && regions[0].startsWith('30:40–49:49, 200'), 'the regions are listed', regions.join(' | '));
  await page.click('#regions button[data-region="0"]');
  await new Promise((r) => setTimeout(r, 100));
  const scrolls = await page.$$eval('.pane', (panes) => panes.map((p) => [p.scrollLeft, p.scrollTop]));
  check(scrolls.every((s) => s[0] === scrolls[0][0] && s[1] === scrolls[0][1]) && scrolls[0][1] > 0,
    'the panes follow the region together', JSON.stringify(scrolls));
  const mark = await page.$eval('.pane .mark', (m) => [m.offsetLeft, m.offsetTop, m.offsetWidth, m.offsetHeight]);
  check(JSON.stringify(mark) === JSON.stringify([30 * 8 - 2, 40 * 8 - 2, 20 * 8 + 4, 10 * 8 + 4]), 'the region is framed', JSON.stringify(mark));
  await page.screenshot({ path: `${shots}/side-by-side-zoom-8.png` });

  // A pixel read under the pointer, in both images.
  const image = await page.$('.pane img[data-side="expected"]');
  const box = await image.boundingBox();
  const scroll = scrolls[0];
  await page.mouse.move(box.x + (35 * 8 + 4) - 0, box.y + (45 * 8 + 4) - 0);
  await page.waitForFunction(() => document.getElementById('pixel').textContent.includes('actual rgb'));
  const pixel = await page.$eval('#pixel', (p) => p.textContent);
  const [r, g, b] = base(35, 45);
  check(pixel === `x=35, y=45  expected rgb(${r}, ${g}, ${b})  actual rgb(0, 255, 0)`, 'the pixel under the pointer, both colours', pixel + ' ' + scroll);

  // The slider and blink views, by the key.
  await page.keyboard.press('v');
  check((await page.$$('.pane')).length === 1 && (await page.$$('.pane img')).length === 2, 'v: the slider stacks both pictures');
  await page.$eval('#wipe', (w) => { w.value = 250; w.dispatchEvent(new Event('input')); });
  const clip = await page.$eval('.pane img[data-side="actual"]', (img) => img.style.clipPath);
  check(clip === 'inset(0px 0px 0px 25%)' || clip === 'inset(0 0 0 25%)', 'the slider wipes', clip);
  await page.screenshot({ path: `${shots}/slider.png` });
  await page.keyboard.press('v');
  const sides = new Set();
  for (let i = 0; i < 8; ++i) {
    sides.add(await page.$eval('.pane img', (img) => img.dataset.side));
    await new Promise((r) => setTimeout(r, 150));
  }
  check(sides.has('expected') && sides.has('actual'), 'v: blink shows expected and actual in turn', [...sides].join(','));
  const before = await page.$eval('.pane img', (img) => img.dataset.side);
  await page.keyboard.press('b');
  const after = await page.$eval('.pane img', (img) => img.dataset.side);
  check(before !== after, 'b toggles the blink by hand', `${before} ${after}`);

  // j and k walk the list; the filter narrows it.
  const currentPath = () => page.$eval('nav li.current .path', (e) => e.textContent);
  await page.keyboard.press('j');
  const next = await currentPath();
  await page.keyboard.press('k');
  check(next === listed[listed.indexOf('block.bmp') + 1] && (await currentPath()) === 'block.bmp', 'j and k', next);
  await page.type('#filter', 'many');
  const filtered = await page.$$eval('#pairs li .path', (items) => items.map((i) => i.textContent));
  check(JSON.stringify(filtered) === JSON.stringify(['sub/many.bmp']), 'the filter narrows the list to the path', filtered.join(','));

  // A pair in trouble shows its message.
  const troubled = json.pairs.find((p) => p.path === 'size.bmp');
  await page.$eval('#filter', (f) => { f.value = ''; f.dispatchEvent(new Event('input')); });
  await page.click(`#pairs li[data-index="${json.pairs.indexOf(troubled)}"]`);
  const message = await page.$eval('#trouble', (t) => t.textContent);
  check(message.includes(troubled.trouble.message), 'a pair in trouble shows why', message);
  check(await page.$eval('#accept', (p) => p.hidden), 'a pair in trouble offers nothing to accept');
  check(fs.readdirSync(`${root}/report/pairs`).length === 3, 'only the differing pairs have pictures');

  // 5,000 pairs, most of them equal: small, and painted at once.
  const large = path.join(work, 'large');
  fs.rmSync(large, { recursive: true, force: true });
  for (let i = 0; i < 5000; ++i) {
    const name = `page-${String(i).padStart(4, '0')}.bmp`;
    bmp(`${large}/expected/${name}`, 8, 8, base);
    bmp(`${large}/actual/${name}`, 8, 8, i % 250 === 0 ? (x, y) => (x === i % 8 ? [1, 2, 3] : base(x, y)) : base);
  }
  const big = compare(large, []);
  const fresh = await browser.newPage();
  fresh.on('pageerror', (error) => errors.push(String(error)));
  fresh.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  await fresh.goto(big.index, { waitUntil: 'load' });
  const paint = await fresh.evaluate(() => new Promise((resolve) => {
    new PerformanceObserver((entries) => {
      const entry = entries.getEntriesByName('first-contentful-paint')[0];
      if (entry) resolve(entry.startTime);
    }).observe({ type: 'paint', buffered: true });
    setTimeout(() => resolve(-1), 5000);
  }));
  check(paint > 0 && paint < 2000, 'a report of 5,000 pairs paints within 2 s', `${paint.toFixed(0)} ms`);
  console.log(`        first paint of 5,000 pairs: ${paint.toFixed(0)} ms`);
  const rows = await fresh.$$eval('#pairs li', (items) => items.length);
  check(rows === big.json.summary.differing && fs.readdirSync(`${large}/report/pairs`).length === rows,
    'the 5,000-pair report lists and keeps pictures of the differing pairs only', `${rows}`);
  await fresh.screenshot({ path: `${shots}/five-thousand.png` });
} catch (error) {
  check(false, 'the browser test ran to its end', String(error && error.stack || error));
} finally {
  check(errors.length === 0, 'no console errors', errors.join(' | '));
  await browser.close();
}
console.log(`report: ${passed} passed, ${failed} failed`);
process.exit(failed ? 1 : 0);
