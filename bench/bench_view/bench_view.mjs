// Time to the first full frame of a tileset in headless Chromium (SwiftShader):
// from the start of the page's navigation to the first frame drawn after
// the tiles the fitted camera asks for are all loaded (viewerState.
// firstFullFrameMs). Each run is a fresh browser context, so nothing is
// cached. Served by a real `scenehost view`.
//
//   node bench/bench_view/bench_view.mjs --scenehost build-rel/bin/scenehost [--path TILESET_DIR] [--runs 5]
//
// Without --path, the test tileset of tests/view (a parent, four quadrant
// tiles and four leaves) is made in a temporary folder. --path may also name
// a .glb (out/city.glb: the whole town in one file). BENCH_VERBOSE=1 prints
// each run.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  SKIP, launchBrowser, loadPlaywright, makeTileset, parseArgs, startViewer,
} from '../../tests/view/view_harness.mjs';

const args = parseArgs(process.argv.slice(2), { runs: '5' });
if (!args.scenehost) throw new Error('--scenehost PATH is needed');
const playwright = loadPlaywright();
if (!playwright) {
  console.log('bench_view: playwright-core is not installed (run scripts/setup.sh)');
  process.exit(SKIP);
}
const { browser, why } = await launchBrowser(playwright);
if (!browser) {
  console.log(`bench_view: headless Chromium cannot start here: ${why}`);
  process.exit(SKIP);
}

let work = null;
let target = args.path;
if (!target) {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'bench-view-'));
  target = makeTileset(args.scenehost, work);
}

const viewer = await startViewer(args.scenehost, target);
const times = [];
let tiles = 0, triangles = 0;
for (let i = 0; i < Number(args.runs); i++) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  const page = await context.newPage();
  await page.goto(viewer.url);
  await page.waitForFunction(() => window.viewerState && window.viewerState.firstFullFrameMs !== null,
                             null, { timeout: 120000, polling: 10 });
  const s = await page.evaluate(() => ({ ms: window.viewerState.firstFullFrameMs,
                                         tiles: window.viewerState.tilesLoaded,
                                         triangles: window.viewerState.triangles }));
  times.push(s.ms);
  if (process.env.BENCH_VERBOSE) console.log(`  run ${i + 1}: ${s.ms.toFixed(0)} ms`);
  tiles = s.tiles;
  triangles = s.triangles;
  await context.close();
}
await browser.close();
await viewer.stop();
if (work) fs.rmSync(work, { recursive: true, force: true });

times.sort((a, b) => a - b);
const median = times[Math.floor(times.length / 2)];
console.log(`bench_view: ${target}`);
console.log(`  first full frame at 1280x720: median ${median.toFixed(0)} ms, ` +
            `min ${times[0].toFixed(0)} ms, max ${times[times.length - 1].toFixed(0)} ms over ${times.length} runs`);
console.log(`  tiles loaded ${tiles}, triangles drawn ${triangles}`);
