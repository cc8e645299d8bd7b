'use strict';
// The screenshot matcher shared by the Jest, Vitest and Playwright Test
// adapters: a picture (PNG bytes or a file) against its baseline in a
// __screenshots__ folder beside the test file.

const fs = require('node:fs');
const path = require('node:path');
const { compare, TobrelDiffError } = require('./index.js');

// A file name from a test's title or a screenshot's name.
function slug(text) {
  return String(text).replace(/[^A-Za-z0-9._-]+/g, '-').replace(/^-+|-+$/g, '').slice(0, 120) || 'screenshot';
}

const counters = new Map();  // per test: the screenshots taken without a name

// Options of the matcher, besides the comparer's.
const OWN = new Set(['screenshotsDir']);

// `update`: 'all' rewrites a baseline that differs; 'missing' writes
// missing ones only; 'none' writes nothing (CI). A baseline is never
// rewritten when the pair passes.
async function matchScreenshot({ received, name, options = {}, testFile, testTitle, update }) {
  if (!testFile) throw new TobrelDiffError('toMatchScreenshot needs to know its test file', 'usage');
  if (name === undefined) {
    const key = `${testFile}\0${testTitle}`;
    const n = (counters.get(key) || 0) + 1;
    counters.set(key, n);
    name = `${testTitle} ${n}`;
  }
  const file = slug(name).replace(/\.png$/i, '') + '.png';
  const folder = options.screenshotsDir || path.join(path.dirname(testFile), '__screenshots__', path.basename(testFile));
  const baseline = path.join(folder, file);
  const results = path.join(folder, '__results__');
  const actual = path.join(results, file.replace(/\.png$/, '-actual.png'));
  const diffImage = path.join(results, file.replace(/\.png$/, '-diff.png'));
  const compareOptions = Object.fromEntries(Object.entries(options).filter(([key]) => !OWN.has(key)));

  const bytes = Buffer.isBuffer(received) || received instanceof Uint8Array ? Buffer.from(received) : fs.readFileSync(received);
  if (!fs.existsSync(baseline)) {
    if (update === 'none')
      return { pass: false, message: `Screenshot "${name}" has no baseline (${baseline}), and baselines are not written in CI.` };
    fs.mkdirSync(folder, { recursive: true });
    fs.writeFileSync(baseline, bytes);
    return { pass: true, message: `Screenshot "${name}" had no baseline: written to ${baseline}.`, written: baseline };
  }
  fs.mkdirSync(results, { recursive: true });
  fs.writeFileSync(actual, bytes);
  let result;
  try {
    result = await compare(baseline, actual, { ...compareOptions, diffImage });
  } catch (error) {
    if (!(error instanceof TobrelDiffError) || typeof error.code !== 'number') throw error;
    if (update === 'all') {
      fs.copyFileSync(actual, baseline);
      return { pass: true, message: `Screenshot "${name}": baseline rewritten (${error.message}).`, written: baseline };
    }
    return { pass: false, message: `Screenshot "${name}" cannot be compared with its baseline: ${error.message}\n` +
                                   `  baseline: ${baseline}\n  actual:   ${actual}` };
  }
  if (result.passed) {
    fs.rmSync(actual, { force: true });
    fs.rmSync(diffImage, { force: true });
    return { pass: true, message: `Screenshot "${name}" matches its baseline (${result.count} pixels differ).`, result };
  }
  if (update === 'all') {
    fs.copyFileSync(actual, baseline);
    fs.rmSync(diffImage, { force: true });
    return { pass: true, message: `Screenshot "${name}": baseline rewritten (${result.count} pixels differed).`, result, written: baseline };
  }
  const limit = compareOptions.maxDiffPixels !== undefined || compareOptions.maxDiffRatio !== undefined
    ? [compareOptions.maxDiffPixels !== undefined ? `${compareOptions.maxDiffPixels} pixels` : null,
       compareOptions.maxDiffRatio !== undefined ? `${compareOptions.maxDiffRatio * 100} %` : null].filter(Boolean).join(' or ')
    : '0 pixels';
  const regions = result.regions.slice(0, 5).map((r) => `${r.left}:${r.top}-${r.right}:${r.bottom} (${r.count})`).join(', ');
  return {
    pass: false,
    result,
    message: `Screenshot "${name}" differs from its baseline: ${result.count} of ${result.compared} pixels differ ` +
             `(limit ${limit})${regions ? `, in ${regions}` : ''}.\n` +
             `  difference image: ${diffImage}\n  actual:           ${actual}\n  baseline:         ${baseline}\n` +
             '  Run the tests with the update flag (-u, --update-snapshots) to accept it.',
  };
}

module.exports = { matchScreenshot };
