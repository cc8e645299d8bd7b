// A 24-bit BMP for the tests that run in node: pixel (x, y) is
// colour(x, y) = [r, g, b]. Returns the file's name.
import fs from 'node:fs';
import path from 'node:path';

export function bmp(file, width, height, colour) {
  const stride = Math.ceil(width * 3 / 4) * 4;
  const data = Buffer.alloc(54 + stride * height);
  data.write('BM', 0);
  data.writeUInt32LE(data.length, 2);
  data.writeUInt32LE(54, 10);
  data.writeUInt32LE(40, 14);
  data.writeInt32LE(width, 18);
  data.writeInt32LE(height, 22);
  data.writeUInt16LE(1, 26);
  data.writeUInt16LE(24, 28);
  for (let y = 0; y < height; ++y) {
    for (let x = 0; x < width; ++x) {
      const [r, g, b] = colour(x, y);
      const at = 54 + (height - 1 - y) * stride + x * 3;
      data[at] = b; data[at + 1] = g; data[at + 2] = r;
    }
  }
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, data);
  return file;
}
