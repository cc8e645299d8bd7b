'use strict';
// tobrel-diff for Node: the comparer's native program, run with --json and
// its results given back as objects. The program comes in a package of its
// own for each platform (an optional dependency); nothing is downloaded.

const { execFile } = require('node:child_process');
const path = require('node:path');

const PLATFORM_PACKAGES = {
  'linux-x64': 'tobrel-diff-linux-x64',
  'linux-arm64': 'tobrel-diff-linux-arm64',
  'win32-x64': 'tobrel-diff-win32-x64',
};

// Trouble: a pair the comparer could not compare (code: its trouble code,
// as the JSON gives it) or a run that could not start ('usage', 'spawn').
class TobrelDiffError extends Error {
  constructor(message, code, details) {
    super(message);
    this.name = 'TobrelDiffError';
    this.code = code;
    if (details !== undefined) this.details = details;
  }
}

// The program: TOBREL_DIFF_BINARY when set, else this platform's package's.
function binaryPath() {
  if (process.env.TOBREL_DIFF_BINARY) return process.env.TOBREL_DIFF_BINARY;
  const key = `${process.platform}-${process.arch}`;
  const name = PLATFORM_PACKAGES[key];
  if (!name) throw new TobrelDiffError(`tobrel-diff has no program for ${key}`, 'platform');
  let folder;
  try {
    folder = path.dirname(require.resolve(`${name}/package.json`));
  } catch {
    throw new TobrelDiffError(`the package ${name} is not installed (npm installs it with tobrel-diff ` +
                              'unless optional dependencies are left out)', 'platform');
  }
  return path.join(folder, 'bin', process.platform === 'win32' ? 'tobrel-diff.exe' : 'tobrel-diff');
}

function area(rect) {
  if (typeof rect === 'string') return rect;
  return `${rect.left}:${rect.top}-${rect.right}:${rect.bottom}`;
}

// Each option of the command line and its field.
const OPTIONS = {
  tolerance: (v) => ['--tolerance', String(v)],
  threshold: (v) => ['--threshold', String(v)],
  antialiasing: (v) => (v ? ['--antialiasing'] : []),
  ignore: (v) => (v && v.length ? ['--ignore', (Array.isArray(v) ? v : [v]).map(area).join(',')] : []),
  regions: (v) => (v ? ['--regions'] : []),
  maxRegions: (v) => ['--max-regions', String(v)],
  maxDiffPixels: (v) => ['--max-diff-pixels', String(v)],
  maxDiffRatio: (v) => ['--max-diff-ratio', String(v)],
  diffImage: (v) => ['--diff-image=' + v],
  diffMask: (v) => (v ? ['--diff-mask'] : []),
  list: (v) => (v ? ['--list'] : []),
  report: (v) => ['--report=' + v],
  shard: (v) => ['--shard', typeof v === 'string' ? v : `${v.index}/${v.count}`],
  junit: (v) => ['--junit=' + v],
  markdown: (v) => ['--markdown=' + v],
};

function argumentsOf(options) {
  const args = [];
  for (const [key, value] of Object.entries(options || {})) {
    if (value === undefined || value === null) continue;
    const option = OPTIONS[key];
    if (!option) throw new TobrelDiffError(`unknown option ${key}`, 'usage');
    args.push(...option(value));
  }
  return args;
}

function run(args) {
  return new Promise((resolve, reject) => {
    let program;
    try {
      program = binaryPath();
    } catch (error) {
      reject(error);
      return;
    }
    execFile(program, args, { maxBuffer: 1 << 30, windowsHide: true }, (error, stdout, stderr) => {
      const status = error ? error.code : 0;
      if (typeof status !== 'number') {
        reject(new TobrelDiffError(`tobrel-diff could not be started: ${error.message}`, 'spawn'));
        return;
      }
      resolve({ status, stdout, stderr });
    });
  });
}

function rect(r) {
  return r ? { left: r.left, top: r.top, right: r.right, bottom: r.bottom } : null;
}

// A pair's JSON object as the typed result.
function pairResult(p) {
  if (p.trouble) return { path: p.path, first: p.first, second: p.second, trouble: { code: p.trouble.code, message: p.trouble.message } };
  const result = {
    first: p.first,
    second: p.second,
    width: p.width,
    height: p.height,
    count: p.count,
    antialiased: p.antialiased,
    compared: p.compared,
    passed: p.passed,
    bounds: rect(p.bounds),
    regions: p.regions.map((r) => ({ ...rect(r), count: r.count })),
    regionsLeftOut: p.regions_left_out,
    morePictures: p.more_pictures || [],
  };
  if (p.path !== undefined) result.path = p.path;
  if (p.differences) result.differences = p.differences;
  if (p.files) result.files = p.files;
  return result;
}

function parse(out, stderr) {
  try {
    return JSON.parse(out);
  } catch {
    throw new TobrelDiffError(stderr.trim().replace(/^tobrel-diff: /, '') || 'tobrel-diff gave no results', 'usage');
  }
}

// Compares two image files; resolves to the pair's result, rejects with a
// TobrelDiffError when the pair is in trouble.
async function compare(expected, actual, options = {}) {
  const { status, stdout, stderr } = await run(['--json', ...argumentsOf(options), '--', expected, actual]);
  const pair = parse(stdout, stderr);
  if (pair.trouble) throw new TobrelDiffError(pair.trouble.message, pair.trouble.code);
  if (status === 2) throw new TobrelDiffError(stderr.trim(), 'usage');
  const result = pairResult(pair);
  if (options.diffImage !== undefined) result.diffImage = options.diffImage;
  return result;
}

function runResult(document) {
  return {
    first: document.first,
    second: document.second,
    pairs: document.pairs.map(pairResult),
    summary: { ...document.summary },
  };
}

// Compares every file below one folder with the file of the same relative
// path below the other; pairs in trouble are in the results, not thrown.
async function compareFolders(expectedDir, actualDir, options = {}) {
  const { stdout, stderr } = await run(['--json', ...argumentsOf(options), '--', expectedDir, actualDir]);
  return runResult(parse(stdout, stderr));
}

// Combines the JSON documents of a run's shards.
async function merge(shardFiles, options = {}) {
  const { stdout, stderr } = await run(['--merge', '--json', ...argumentsOf(options), '--', ...shardFiles]);
  return runResult(parse(stdout, stderr));
}

// Copies the failing pairs' actual files over their expected ones, as a
// run's JSON results name them; resolves to what was accepted and refused.
async function accept(resultFile, options = {}) {
  const args = ['--accept', resultFile];
  if (options.only) args.push('--only', options.only);
  const { status, stdout, stderr } = await run(args);
  const accepted = stdout.split('\n').filter((line) => line.startsWith('accepted ')).map((line) => line.slice(9).split(': ')[0]);
  const refused = stderr.split('\n').filter((line) => line.startsWith('tobrel-diff: not accepted: '))
    .map((line) => line.slice('tobrel-diff: not accepted: '.length));
  if (status === 2 && refused.length === 0) throw new TobrelDiffError(stderr.trim(), 'usage');
  return { accepted, refused };
}

module.exports = { compare, compareFolders, merge, accept, binaryPath, TobrelDiffError };
