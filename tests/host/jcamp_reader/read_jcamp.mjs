// Reads a JCAMP-DX file with jcampconverter, a parser written apart from dorvane, and prints what it
// found, one item a line, for the host's file tests: the number of points, the data type, the number
// of data blocks, the abscissa of the last point, then each Y value and then each X value, in the
// shortest text that reads back as the same double (NaN for a missing value); then the first
// block's labels as it keeps them, one "NAME=value" a line: TITLE, the others under their canonic
// names (OWNER, LONGDATE, ...), and the "##$" ones with their "$" and name as written.
import { readFileSync } from 'node:fs';
import { convert } from 'jcampconverter';

// String(-0) is "0": keep the sign, which the round trip must carry too.
const exact = (value) => (Object.is(value, -0) ? '-0' : String(value));

const file = process.argv[2];
if (!file) {
  console.error('usage: node read_jcamp.mjs FILE');
  process.exit(2);
}
// Every label kept, not only those the converter reads for the data.
const blocks = convert(readFileSync(file, 'latin1'), { keepRecordsRegExp: /.*/ }).flatten;
const { x, y } = blocks[0]?.spectra[0]?.data ?? { x: [], y: [] };
const label = (name, value) => `${name}=${String(value).replaceAll('\n', '\\n')}`;
const labels = [
  label('TITLE', blocks[0]?.title),
  ...Object.entries(blocks[0]?.info ?? {}).map(([name, value]) => label(name, value)),
  ...Object.entries(blocks[0]?.meta ?? {}).map(([name, value]) => label(`$${name}`, value)),
];
const lines = [y.length, blocks[0]?.dataType, blocks.length, exact(x.at(-1)), ...y.map(exact), ...x.map(exact), ...labels];
process.stdout.write(lines.join('\n') + '\n');
