// Debian's chromium, no browser of Playwright's own.
module.exports = {
  testDir: '.',
  reporter: 'line',
  use: { launchOptions: { executablePath: process.env.CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox'] } },
};
