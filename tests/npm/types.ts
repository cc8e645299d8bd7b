// Every field of the API's types in use, so that tsc --strict checks the
// declarations the package ships.
import { compare, compareFolders, merge, accept, binaryPath, TobrelDiffError } from 'tobrel-diff';
import type { CompareOptions, CompareResult, FoldersResult, TroubledPair, Region, Rect, Summary } from 'tobrel-diff';
import { toMatchScreenshot as jestMatcher } from 'tobrel-diff/jest';
import type { ScreenshotOptions } from 'tobrel-diff/jest';
import { toMatchScreenshot as playwrightMatcher } from 'tobrel-diff/playwright';

const options: CompareOptions = {
  tolerance: 3, threshold: 0.1, antialiasing: true, ignore: [{ left: 0, top: 0, right: 4, bottom: 4 }, '5:5-6:6'],
  regions: true, maxRegions: 10, maxDiffPixels: 100, maxDiffRatio: 0.01, diffImage: 'd.png', diffMask: false,
  list: true, report: 'report', shard: { index: 1, count: 4 }, junit: 'r.xml', markdown: 's.md',
};
const screenshot: ScreenshotOptions = { ...options, screenshotsDir: 'shots' };

async function use(): Promise<number> {
  const r: CompareResult = await compare('a.png', 'b.png', options);
  const box: Rect | null = r.bounds;
  const regions: Region[] = r.regions;
  const fields: Array<number | boolean | string | undefined> = [r.path, r.first, r.second, r.width, r.height, r.count,
    r.antialiased, r.compared, r.passed, r.regionsLeftOut, r.diffImage, r.files?.first.size, r.files?.second.crc32];
  const more: Array<'first' | 'second'> = r.morePictures;
  const listed: Array<[number, number]> | undefined = r.differences;
  const run: FoldersResult = await compareFolders('a', 'b', { shard: '1/2' });
  const summary: Summary = run.summary;
  for (const pair of run.pairs) {
    if ('trouble' in pair) {
      const troubled: TroubledPair = pair;
      fields.push(troubled.trouble.code, troubled.trouble.message);
    }
  }
  const merged: FoldersResult = await merge(['s1.json', 's2.json'], { report: 'report', junit: 'r.xml', markdown: 's.md' });
  const accepted = await accept('results.json', { only: 'login/*' });
  fields.push(accepted.accepted[0], accepted.refused[0], binaryPath(), box?.left, regions[0]?.count, more[0], listed?.[0]?.[0]);
  try {
    await compare('a.png', 'missing.png');
  } catch (error) {
    if (error instanceof TobrelDiffError) fields.push(typeof error.code === 'number' ? error.code : error.code.length);
  }
  return fields.length + summary.pairs + summary.same + summary.passed + summary.differing + summary.trouble +
         merged.pairs.length + Object.keys(screenshot).length + [jestMatcher, playwrightMatcher].length;
}
void use;
