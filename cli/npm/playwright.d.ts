import type { ScreenshotOptions } from './jest';
export type { ScreenshotOptions } from './jest';

export declare function toMatchScreenshot(
  this: unknown,
  received: Buffer | Uint8Array | string,
  name?: string | ScreenshotOptions,
  options?: ScreenshotOptions
): Promise<{ pass: boolean; message(): string; name: string }>;
