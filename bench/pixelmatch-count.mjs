// Prints the number of pixels pixelmatch counts for each pair named on the
// command line: THRESHOLD INCLUDE_AA FIRST.png SECOND.png [FIRST SECOND ...].
// A pair of another size prints "size".
import fs from 'node:fs';
import pixelmatch from 'pixelmatch';
import {PNG} from 'pngjs';

const [threshold, includeAA, ...files] = process.argv.slice(2);
for (let i = 0; i + 1 < files.length; i += 2) {
    const a = PNG.sync.read(fs.readFileSync(files[i]));
    const b = PNG.sync.read(fs.readFileSync(files[i + 1]));
    if (a.width !== b.width || a.height !== b.height) {
        console.log('size');
        continue;
    }
    console.log(pixelmatch(a.data, b.data, null, a.width, a.height,
                           {threshold: Number(threshold), includeAA: includeAA === 'true'}));
}
