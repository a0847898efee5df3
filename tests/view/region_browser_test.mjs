// The bundled region in the viewer, in headless Chromium: raised with
// `scenehost RaiseRegion` into a work folder, then served by `scenehost view`.
// From the fitted, faraway view only the root is requested; close over the
// north-west corner the leaves of that quarter are requested and those of
// the far (south-east) quarter are not; no console errors.
//
//   node region_browser_test.mjs --scenehost build/bin/scenehost --work DIR
// Exit 77 (skipped) only where Chromium cannot start or playwright-core is
// missing.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { REPO, SKIP, launchBrowser, loadPlaywright, openPage, parseArgs, startViewer } from './view_harness.mjs';

const args = parseArgs(process.argv.slice(2), { work: '/tmp/scenehost-region-view-test' });
if (!args.scenehost) throw new Error('--scenehost PATH is needed');
const playwright = loadPlaywright();
if (!playwright) {
  console.log(`SKIP: playwright-core is not installed in ${REPO}/viewer/node_modules (run scripts/setup.sh)`);
  process.exit(SKIP);
}
const { browser, why } = await launchBrowser(playwright);
if (!browser) {
  console.log(`SKIP: headless Chromium cannot start here: ${why}`);
  process.exit(SKIP);
}

fs.rmSync(args.work, { recursive: true, force: true });
fs.mkdirSync(args.work, { recursive: true });
const source = path.join(REPO, 'examples', 'region');
for (const f of fs.readdirSync(source)) fs.copyFileSync(path.join(source, f), path.join(args.work, f));
const recipe = JSON.parse(fs.readFileSync(path.join(args.work, 'region.json'), 'utf8'));
recipe.out = 'out';
fs.writeFileSync(path.join(args.work, 'region.json'), JSON.stringify(recipe));
execFileSync(args.scenehost, ['--quiet', 'RaiseRegion', path.join(args.work, 'region.json')], { stdio: 'inherit' });

const viewer = await startViewer(args.scenehost, path.join(args.work, 'out'));
let failed = 0;
try {
  const { page, problems } = await openPage(browser, viewer.url, { width: 1280, height: 720 });
  const requested = [];
  page.on('request', (r) => {
    const m = r.url().match(/tiles\/(\d+\/\d+_\d+(?:_\d+)?)\.glb/);
    if (m) requested.push(m[1]);
  });
  // openPage has loaded what the fitted view needs; ask again from here on.
  await page.reload();
  await page.waitForFunction(() => window.viewerState && window.viewerState.ready, null, { timeout: 60000 });
  await page.evaluate(() => window.viewerState.idle());
  assert.deepEqual(requested, ['2/0_0'], `from far away only the root: ${requested}`);
  requested.length = 0;
  // Scene X is east and -Z north: the north-west quarter is X < 0, Z < 0.
  await page.evaluate(() => window.viewerState.moveCamera([-900, 120, -700], [-900, 40, -900]));
  await page.evaluate(() => window.viewerState.idle());
  const leaves = requested.filter((t) => t.startsWith('0/'));
  assert.ok(leaves.some((t) => t.startsWith('0/0_0')), `a north-west leaf is requested: ${requested}`);
  assert.ok(!leaves.some((t) => /^0\/[23]_[23]/.test(t)), `no south-east leaf is requested: ${requested}`);
  assert.deepEqual(problems, [], 'no console errors or failed requests');
  console.log(`ok: the bundled region streams by distance (${leaves.length} leaves near the north-west corner)`);
} catch (e) {
  failed++;
  console.log(`FAIL: ${String(e.stack || e)}`);
} finally {
  await browser.close();
  await viewer.stop();
}
process.exit(failed ? 1 : 0);
