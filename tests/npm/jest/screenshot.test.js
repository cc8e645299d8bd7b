// A page screenshot by Debian's chromium (puppeteer-core) against its
// baseline; PAGE=changed renders the page with another button colour.
const path = require('node:path');
const puppeteer = require('puppeteer-core');

expect.extend(require('tobrel-diff/jest'));

let browser;
beforeAll(async () => {
  browser = await puppeteer.launch({ executablePath: process.env.CHROMIUM || '/usr/bin/chromium', headless: true,
                                     args: ['--no-sandbox', '--disable-gpu'] });
});
afterAll(() => browser && browser.close());

test('the account card', async () => {
  const page = await browser.newPage();
  await page.setViewport({ width: 320, height: 200 });
  const query = process.env.PAGE === 'changed' ? '?changed' : '';
  await page.goto('file://' + path.resolve(__dirname, '..', 'page.html') + query);
  await expect(await page.screenshot()).toMatchScreenshot('account', { threshold: 0.1, antialiasing: true });
});
