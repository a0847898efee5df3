// Runs the Khronos glTF validator over .glb/.gltf files given on the command
// line. Prints each file's report (issues only, as JSON) and exits 1 when any
// file has an error, 2 when a file cannot be read.
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import validator from 'gltf-validator';

const files = process.argv.slice(2);
if (files.length === 0) {
  console.error('usage: node validate.mjs FILE.glb...');
  process.exit(2);
}

let failed = false;
for (const file of files) {
  let bytes;
  try {
    bytes = new Uint8Array(await readFile(file));
  } catch (e) {
    console.error(`${file}: cannot read: ${e.message}`);
    process.exit(2);
  }
  const report = await validator.validateBytes(bytes, {
    uri: path.basename(file),
    maxIssues: 100,
    externalResourceFunction: (uri) =>
      readFile(path.resolve(path.dirname(file), decodeURIComponent(uri))).then((b) => new Uint8Array(b)),
  });
  const { numErrors, numWarnings, numInfos, numHints, messages } = report.issues;
  console.log(`${file}: ${numErrors} errors, ${numWarnings} warnings, ${numInfos} infos, ${numHints} hints`);
  for (const m of messages) console.log(`  [${m.severity}] ${m.code} ${m.pointer ?? ''}: ${m.message}`);
  if (numErrors > 0) failed = true;
}
process.exit(failed ? 1 : 0);
