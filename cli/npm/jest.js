'use strict';
// toMatchScreenshot for Jest and Vitest:
//   expect.extend(require('tobrel-diff/jest'));              // Jest
//   import { toMatchScreenshot } from 'tobrel-diff/jest';    // Vitest
//   expect.extend({ toMatchScreenshot });
//   await expect(pngBufferOrPath).toMatchScreenshot('home', { threshold: 0.1 });
// Baselines go in __screenshots__/<test file>/ beside the test; -u rewrites
// those that differ.

const { matchScreenshot } = require('./matchers.js');

async function toMatchScreenshot(received, name, options) {
  if (typeof name === 'object' && name !== null) {
    options = name;
    name = undefined;
  }
  // Both runners keep the snapshot mode here: 'all' with -u, 'none' in CI.
  const mode = this.snapshotState && this.snapshotState._updateSnapshot;
  const update = mode === 'all' ? 'all' : mode === 'none' ? 'none' : 'missing';
  const outcome = await matchScreenshot({ received, name, options, testFile: this.testPath,
                                          testTitle: this.currentTestName, update });
  if (outcome.written && this.snapshotState && mode !== 'all') console.log(outcome.message);
  return { pass: this.isNot ? !outcome.pass : outcome.pass, message: () => outcome.message };
}

module.exports = { toMatchScreenshot };
