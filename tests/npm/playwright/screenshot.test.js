// The page by Playwright Test in Debian's chromium against its baseline;
// PAGE=changed renders the page with another button colour.
const path = require('node:path');
const { test, expect: base } = require('@playwright/test');
const { toMatchScreenshot } = require('tobrel-diff/playwright');

const expect = base.extend({ toMatchScreenshot });

test('the account card', async ({ page }) => {
  await page.setViewportSize({ width: 320, height: 200 });
  const query = process.env.PAGE === 'changed' ? '?changed' : '';
  await page.goto('file://' + path.resolve(__dirname, '..', 'page.html') + query);
  await expect(await page.screenshot()).toMatchScreenshot('account', { threshold: 0.1, antialiasing: true });
});
