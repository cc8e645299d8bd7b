'use strict';
// toMatchScreenshot for Playwright Test:
//   import { expect as base } from '@playwright/test';
//   import { toMatchScreenshot } from 'tobrel-diff/playwright';
//   const expect = base.extend({ toMatchScreenshot });
//   await expect(await page.screenshot()).toMatchScreenshot('home');
// Baselines go in __screenshots__/<test file>/ beside the test; missing
// ones are written, and --update-snapshots rewrites those that differ.

const { matchScreenshot } = require('./matchers.js');

async function toMatchScreenshot(received, name, options) {
  if (typeof name === 'object' && name !== null) {
    options = name;
    name = undefined;
  }
  const { test } = require('@playwright/test');
  const info = test.info();
  const mode = info.config.updateSnapshots;
  const update = mode === 'all' || mode === 'changed' ? 'all' : mode === 'none' ? 'none' : 'missing';
  const outcome = await matchScreenshot({ received, name, options, testFile: info.file,
                                          testTitle: info.titlePath.slice(1).join(' '), update });
  if (outcome.written) info.annotations.push({ type: 'screenshot', description: outcome.message });
  const pass = this.isNot ? !outcome.pass : outcome.pass;
  return { pass, message: () => outcome.message, name: 'toMatchScreenshot' };
}

module.exports = { toMatchScreenshot };
