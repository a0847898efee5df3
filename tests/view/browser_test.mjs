// The viewer in headless Chromium, against a real `scenehost view`:
//   - the tower .glb renders, with no console error, and the middle of the
//     screenshot holds the building's colours; clicking it shows its name;
//   - a two-level tileset (a parent and four corner leaves) streams by
//     screen-space error: from far away only the parent is fetched; close
//     to one corner, that corner's leaf is fetched and the others are not;
//   - the same tileset placed on the globe (a root east-north-up to
//     earth-centred transform), and that root again under a root of
//     earth-centred box and no transform, is framed and streams the same way.
// Exit status 77 (skipped) only when Chromium or playwright-core is missing
// or Chromium cannot start.
//
//   node browser_test.mjs --scenehost build/bin/scenehost --work DIR [--screenshot FILE]
// --screenshot also views the town raised from examples/city/town.json and
// saves a picture of it (docs/images/view.png is made so).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import {
  CORNERS, REPO, SKIP, launchBrowser, loadPlaywright, makeCompressedGlb, makeGlb, makeTileset, openPage,
  parseArgs, readGlb, startViewer,
} from './view_harness.mjs';

const args = parseArgs(process.argv.slice(2), { work: '/tmp/scenehost-view-test' });
if (!args.scenehost) throw new Error('--scenehost PATH is needed');

const playwright = loadPlaywright();
if (!playwright) {
  console.log(`SKIP: playwright-core is not installed in ${REPO}/viewer/node_modules (run scripts/setup.sh)`);
  process.exit(SKIP);
}
if (!fs.existsSync(path.join(path.dirname(args.scenehost), 'viewer', 'viewer.js'))) {
  // node_modules is there, so the build should have made the page.
  console.error('FAIL: the viewer page was not built next to scenehost (configure the build again)');
  process.exit(1);
}
const { browser, why } = await launchBrowser(playwright);
if (!browser) {
  console.log(`SKIP: headless Chromium cannot start here: ${why}`);
  process.exit(SKIP);
}

fs.rmSync(args.work, { recursive: true, force: true });
fs.mkdirSync(args.work, { recursive: true });

let failed = 0;
async function check(name, fn) {
  try {
    await fn();
    console.log(`ok: ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAIL: ${name}\n  ${String(e.stack || e).split('\n').join('\n  ')}`);
  }
}

// Pixels of a screenshot, decoded by the browser itself.
async function pixels(page, png) {
  return page.evaluate(async (b64) => {
    const blob = await (await fetch(`data:image/png;base64,${b64}`)).blob();
    const bitmap = await createImageBitmap(blob);
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const g = canvas.getContext('2d');
    g.drawImage(bitmap, 0, 0);
    return { width: bitmap.width, height: bitmap.height,
             data: Array.from(g.getImageData(0, 0, bitmap.width, bitmap.height).data) };
  }, png.toString('base64'));
}

// A pixel is one of the building's: a material colour times the preview's
// light factor, 0.4 (ambient only) to 1, within rounding.
function isBuildingColour([r, g, b], colours) {
  return colours.some(([cr, cg, cb]) => {
    const channels = [[r, cr], [g, cg], [b, cb]].filter(([, c]) => c > 0.05);
    if (channels.length === 0) return r + g + b < 12;
    const k = channels[0][0] / 255 / channels[0][1];
    if (k < 0.38 || k > 1.02) return false;
    return [[r, cr], [g, cg], [b, cb]].every(([v, c]) => Math.abs(v - Math.min(1, c * k) * 255) <= 6);
  });
}

const requestedNames = (page) =>
  page.evaluate(() => window.viewerState.requested.map((u) => decodeURIComponent(u.split('/').pop())));

async function flyTo(page, position, target) {
  await page.evaluate(([p, t]) => window.viewerState.moveCamera(p, t), [position, target]);
  await page.waitForTimeout(100);
  await page.evaluate(() => window.viewerState.idle());
}

// ---- the tower ----------------------------------------------------------------------

// The middle fifth of the screenshot: how many pixels are the building's.
async function buildingShare(page, colours) {
  const { width, height, data } = await pixels(page, await page.screenshot());
  let building = 0, total = 0;
  for (let y = Math.floor(height * 0.4); y < height * 0.6; y++) {
    for (let x = Math.floor(width * 0.4); x < width * 0.6; x++) {
      const i = (y * width + x) * 4;
      total++;
      if (isBuildingColour([data[i], data[i + 1], data[i + 2]], colours)) building++;
    }
  }
  return { building, total };
}

async function towerChecks(label, file, colours) {
  const viewer = await startViewer(args.scenehost, file);
  const { page, problems } = await openPage(browser, viewer.url);
  await check(`${label} renders without console errors, its colours in the middle`, async () => {
    assert.deepEqual(problems, []);
    const state = await page.evaluate(() => ({ ...window.viewerState }));
    assert.equal(state.kind, 'glb');
    assert.ok(state.triangles > 100, `triangles drawn: ${state.triangles}`);
    assert.equal(await page.textContent('#tiles'), '1');
    const { building, total } = await buildingShare(page, colours);
    assert.ok(building > total * 0.5, `${building} of ${total} middle pixels are the building's colours`);
  });
  await check(`clicking ${label} shows its name`, async () => {
    await page.mouse.click(400, 300);
    await page.waitForSelector('#picked', { state: 'visible', timeout: 5000 });
    assert.equal(await page.textContent('#picked'), 'Tower');
    await page.mouse.click(5, 595);  // the ground, not content: nothing picked
    assert.equal(await page.isVisible('#picked'), false);
  });
  await page.close();
  await check(`${label}: scenehost view stops on Ctrl-C with status 0`, async () => {
    assert.equal(await viewer.stop(), 0);
  });
}

const towerWords = ['RaiseTower Tower 5 4 3 brick A 1'];
const tower = makeGlb(args.scenehost, args.work, 'tower', towerWords);
const towerInfo = readGlb(tower);
assert.deepEqual(towerInfo.names, ['Tower']);
await towerChecks('the tower .glb', tower, towerInfo.colours);
// Quantized and meshopt-compressed by ExportTile: the same colours.
await towerChecks('the compressed tower .glb', makeCompressedGlb(args.scenehost, args.work, 'tower_tile', towerWords),
                  towerInfo.colours);

// ---- a tileset ----------------------------------------------------------------------

async function tilesetChecks(label, dir) {
  const viewer = await startViewer(args.scenehost, dir);
  const { page, problems } = await openPage(browser, viewer.url);
  await check(`${label}: framed on load, from far away only the parent is fetched`, async () => {
    assert.deepEqual(problems, []);
    assert.deepEqual(await requestedNames(page), ['parent.glb']);
    const state = await page.evaluate(() => ({ box: window.viewerState.box, tiles: window.viewerState.tilesLoaded,
                                               triangles: window.viewerState.triangles }));
    // The viewer's frame is the tileset's own, y up: the box of the root.
    for (let i = 0; i < 3; i++) {
      assert.ok(Math.abs(state.box.min[i] - [-200, -45, -200][i]) < 0.5, `box min ${state.box.min}`);
      assert.ok(Math.abs(state.box.max[i] - [200, 45, 200][i]) < 0.5, `box max ${state.box.max}`);
    }
    assert.equal(state.tiles, 1);
    assert.ok(state.triangles > 0);
    // Further away still: nothing more.
    await flyTo(page, [2000, 2000, 2000], [0, 0, 0]);
    assert.deepEqual(await requestedNames(page), ['parent.glb']);
  });
  await check(`${label}: close to one corner, that corner's leaf is fetched and the far ones are not`, async () => {
    const [x, z] = CORNERS.ne;
    // From outside the north-east corner, looking at its tower and on across
    // the square: the far towers are in view, but far.
    await flyTo(page, [x + 70, 50, z + 70], [x, 0, z]);
    const names = await requestedNames(page);
    assert.ok(names.includes('leaf_ne.glb'), `requested ${names}`);
    for (const far of ['leaf_nw.glb', 'leaf_se.glb', 'leaf_sw.glb']) assert.ok(!names.includes(far), `requested ${names}`);
    assert.equal(await page.textContent('#tiles'), String(await page.evaluate(() => window.viewerState.tilesLoaded)));
  });
  await check(`${label}: clicking a building of the leaf shows its name`, async () => {
    const name = await page.evaluate(() => window.viewerState.pickAt(400, 300));
    assert.equal(name, 'Lot_NE');
    await page.mouse.click(400, 300);
    assert.equal(await page.textContent('#picked'), 'Lot_NE');
    assert.deepEqual(problems, []);
  });
  await page.close();
  assert.equal(await viewer.stop(), 0);
}

await tilesetChecks('tileset', makeTileset(args.scenehost, args.work));
await tilesetChecks('georeferenced tileset', makeTileset(args.scenehost, args.work, { georeferenced: true }));
await tilesetChecks('earth-centred root', makeTileset(args.scenehost, args.work, { wrapped: true }));

// The picture in the docs: the bundled town, one building clicked.
if (args.screenshot) {
  await check(`the screenshot ${args.screenshot}`, async () => {
    const town = makeGlb(args.scenehost, args.work, 'city', [`RaiseCity '${REPO}/examples/city/town.json'`]);
    const viewer = await startViewer(args.scenehost, town);
    const { page, problems } = await openPage(browser, viewer.url, { width: 1000, height: 650 });
    await page.mouse.click(500, 325);
    await page.waitForSelector('#picked', { state: 'visible', timeout: 5000 });
    await page.screenshot({ path: args.screenshot });
    assert.deepEqual(problems, []);
    await page.close();
    assert.equal(await viewer.stop(), 0);
  });
}

await browser.close();
if (failed) {
  console.log(`${failed} check(s) failed`);
  process.exit(1);
}
console.log('all browser checks passed');
