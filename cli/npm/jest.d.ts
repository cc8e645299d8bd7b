import type { CompareOptions } from './index';

export interface ScreenshotOptions extends CompareOptions {
  /** Where the baselines are, instead of __screenshots__/<test file>/ beside the test. */
  screenshotsDir?: string;
}

export declare function toMatchScreenshot(
  this: unknown,
  received: Buffer | Uint8Array | string,
  name?: string | ScreenshotOptions,
  options?: ScreenshotOptions
): Promise<{ pass: boolean; message(): string }>;

declare global {
  namespace jest {
    interface Matchers<R> {
      toMatchScreenshot(name?: string | ScreenshotOptions, options?: ScreenshotOptions): Promise<R>;
    }
  }
}
