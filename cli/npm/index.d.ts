// Types of tobrel-diff's Node API: the fields of its JSON results, in camel case.

export interface Rect {
  left: number;
  top: number;
  right: number;
  bottom: number;
}

export interface Region extends Rect {
  /** Differing pixels in the region. */
  count: number;
}

/** An area as a rectangle, or as the command line writes it: "x1:y1-x2:y2". */
export type Area = Rect | string;

/** Every option of the command line, by its camel-case name. */
export interface CompareOptions {
  /** A pixel differs when a channel differs by this much or more (1-255, default 1). */
  tolerance?: number;
  /** The screenshot rule: a perceptual colour distance from 0 to 1 (pixelmatch's). */
  threshold?: number;
  /** With `threshold`: anti-aliased pixels are set apart, not counted. */
  antialiasing?: boolean;
  /** Areas left out of the comparison. */
  ignore?: Area | Area[];
  /** The regions are always in the results; kept for the command line's sake. */
  regions?: boolean;
  /** The regions told, at most (default 100). */
  maxRegions?: number;
  /** A pair with no more differing pixels passes. */
  maxDiffPixels?: number;
  /** A pair with no larger a share of differing pixels (0-1) passes. */
  maxDiffRatio?: number;
  /** Where to write the difference image (PNG when it ends in .png, else BMP); a folder for folders. */
  diffImage?: string;
  /** The difference image shows the marks alone. */
  diffMask?: boolean;
  /** Every differing pixel, in `differences`. */
  list?: boolean;
  /** A folder to write the report for a browser in. */
  report?: string;
  /** Folders: only share K of N of the pairs. */
  shard?: string | { index: number; count: number };
  /** Also write JUnit XML there. */
  junit?: string;
  /** Also write a Markdown summary there. */
  markdown?: string;
}

export interface FileRecord {
  size: number;
  crc32: string;
}

export interface CompareResult {
  /** The relative path, in a folder run. */
  path?: string;
  first: string;
  second: string;
  width: number;
  height: number;
  /** Differing pixels counted. */
  count: number;
  /** Differing pixels set apart as anti-aliasing. */
  antialiased: number;
  /** Pixels outside the ignored areas. */
  compared: number;
  /** Equal, or within the limits. */
  passed: boolean;
  bounds: Rect | null;
  /** Largest first. */
  regions: Region[];
  regionsLeftOut: number;
  /** Which files hold more pictures than the first, the one compared. */
  morePictures: Array<'first' | 'second'>;
  /** With `list`: every differing pixel as [x, y]. */
  differences?: Array<[number, number]>;
  /** For a failing pair: what --accept checks before it copies. */
  files?: { first: FileRecord; second: FileRecord };
  /** The difference image written, when asked for. */
  diffImage?: string;
}

export interface TroubledPair {
  path?: string;
  first: string;
  second: string;
  trouble: { code: number; message: string };
}

export interface Summary {
  pairs: number;
  same: number;
  passed: number;
  differing: number;
  trouble: number;
}

export interface FoldersResult {
  first: string;
  second: string;
  pairs: Array<CompareResult | TroubledPair>;
  summary: Summary;
}

export interface AcceptResult {
  /** The relative paths (or names) of the pairs accepted. */
  accepted: string[];
  /** Each refused pair with the reason. */
  refused: string[];
}

export declare class TobrelDiffError extends Error {
  /** The trouble code of the JSON results, or 'usage', 'spawn', 'platform'. */
  code: number | 'usage' | 'spawn' | 'platform';
}

export declare function compare(expected: string, actual: string, options?: CompareOptions): Promise<CompareResult>;
export declare function compareFolders(expectedDir: string, actualDir: string, options?: CompareOptions): Promise<FoldersResult>;
export declare function merge(shardFiles: string[], options?: Pick<CompareOptions, 'report' | 'junit' | 'markdown'>): Promise<FoldersResult>;
export declare function accept(resultFile: string, options?: { only?: string }): Promise<AcceptResult>;
export declare function binaryPath(): string;
