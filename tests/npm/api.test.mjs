// The Node API of the installed package against the program it runs: the
// results of a pair and of folders, options in camel case, trouble thrown
// as a typed error, --accept. Run by node --test in a project that
// installed the packed packages.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import { createRequire } from 'node:module';
import { spawnSync } from 'node:child_process';
import { bmp } from './bmp.mjs';

const require = createRequire(import.meta.url);
const diff = require('tobrel-diff');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tobrel-npm-'));
const base = (x, y) => [x * 9, y * 7, 80];
const spotted = (x, y) => (x < 3 && y < 2) || (x === 10 && y === 6) ? [255, 255, 255] : base(x, y);
const expected = bmp(`${work}/A/page.bmp`, 12, 8, base);
const actual = bmp(`${work}/B/page.bmp`, 12, 8, spotted);

test('a pair: count, bounds, regions and the rest of the JSON, in camel case', async () => {
  const result = await diff.compare(expected, actual);
  assert.equal(result.count, 7);
  assert.equal(result.compared, 96);
  assert.equal(result.passed, false);
  assert.deepEqual(result.bounds, { left: 0, top: 0, right: 10, bottom: 6 });
  assert.deepEqual(result.regions, [{ left: 0, top: 0, right: 2, bottom: 1, count: 6 },
                                    { left: 10, top: 6, right: 10, bottom: 6, count: 1 }]);
  assert.equal(result.regionsLeftOut, 0);
  assert.deepEqual([result.width, result.height], [12, 8]);
  assert.equal(result.files.second.size, fs.statSync(actual).size);
  assert.equal((await diff.compare(expected, expected)).count, 0);
});

test('options: limits, ignored areas, the screenshot rule, the list, the difference image', async () => {
  assert.equal((await diff.compare(expected, actual, { maxDiffPixels: 7 })).passed, true);
  assert.equal((await diff.compare(expected, actual, { ignore: [{ left: 0, top: 0, right: 2, bottom: 1 }] })).count, 1);
  assert.equal((await diff.compare(expected, actual, { ignore: '10:6-10:6' })).count, 6);
  const rule = await diff.compare(expected, actual, { threshold: 0.1, antialiasing: true });
  assert.equal(rule.count + rule.antialiased, 7);
  const listed = await diff.compare(expected, actual, { list: true });
  assert.deepEqual(listed.differences.slice(0, 2), [[0, 0], [1, 0]]);
  const image = `${work}/out/diff.png`;
  fs.mkdirSync(path.dirname(image), { recursive: true });
  const drawn = await diff.compare(expected, actual, { diffImage: image });
  assert.equal(drawn.diffImage, image);
  assert.deepEqual([...fs.readFileSync(image).subarray(1, 4)], [...Buffer.from('PNG')]);
  await assert.rejects(diff.compare(expected, actual, { colour: 1 }), { name: 'TobrelDiffError', code: 'usage' });
});

test('trouble is a typed error with the code and message of the JSON', async () => {
  const small = bmp(`${work}/small.bmp`, 4, 4, base);
  await assert.rejects(diff.compare(expected, small), (error) =>
    error instanceof diff.TobrelDiffError && error.code === 104 && error.message.includes('small.bmp'));
  await assert.rejects(diff.compare(expected, `${work}/missing.bmp`), (error) => error.code === 109);
});

test('folders, with a pair in trouble among the results; JUnit and Markdown written', async () => {
  bmp(`${work}/A/only.bmp`, 2, 2, base);
  const junit = `${work}/out/results.xml`;
  const run = await diff.compareFolders(`${work}/A`, `${work}/B`, { junit, markdown: `${work}/out/summary.md` });
  assert.deepEqual(run.summary, { pairs: 2, same: 0, passed: 0, differing: 1, trouble: 1 });
  assert.equal(run.pairs.find((p) => p.path === 'page.bmp').count, 7);
  assert.equal(run.pairs.find((p) => p.path === 'only.bmp').trouble.code, 122);
  assert.match(fs.readFileSync(junit, 'utf8'), /<testcase classname="tobrel-diff" name="page.bmp">/);
  fs.rmSync(`${work}/A/only.bmp`);
});

test('accept copies the failing pair of a run\'s JSON and says so', async () => {
  const results = `${work}/results.json`;
  // The run's JSON as a CI job would keep it (status 1: differences).
  const run = spawnSync(diff.binaryPath(), ['--json', `${work}/A`, `${work}/B`]);
  assert.equal(run.status, 1);
  fs.writeFileSync(results, run.stdout);
  assert.deepEqual(await diff.accept(results, { only: 'nothing*' }), { accepted: [], refused: [] });
  assert.notDeepEqual(fs.readFileSync(expected), fs.readFileSync(actual));
  assert.deepEqual(await diff.accept(results, { only: 'page*' }), { accepted: ['page.bmp'], refused: [] });
  assert.deepEqual(fs.readFileSync(expected), fs.readFileSync(actual));
});
