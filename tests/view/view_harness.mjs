// What the browser tests and the benchmark share: the fixtures made with
// scenehost, a running `scenehost view`, and headless Chromium driven by
// playwright-core (from viewer/node_modules).
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

export const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const SKIP = 77;  // CTest's SKIP_RETURN_CODE

export function parseArgs(argv, defaults) {
  const out = { ...defaults };
  for (let i = 0; i < argv.length; i++) {
    if (!argv[i].startsWith('--')) throw new Error(`unexpected argument ${argv[i]}`);
    out[argv[i].slice(2)] = argv[i + 1];
    i++;
  }
  for (const key of ['scenehost', 'work', 'screenshot', 'path']) if (out[key]) out[key] = path.resolve(out[key]);
  return out;
}

export function loadPlaywright() {
  const require = createRequire(path.join(REPO, 'viewer', 'package.json'));
  try {
    return require('playwright-core');
  } catch {
    return null;
  }
}

// Runs scenehost to make one .glb from a script of commands.
export function makeGlb(scenehost, work, name, commands) {
  const script = path.join(work, `${name}.txt`);
  const glb = path.join(work, `${name}.glb`);
  fs.writeFileSync(script, commands.join('\n') + '\n');
  execFileSync(scenehost, ['-q', '--script', script, '--save', glb],
               { cwd: work, stdio: ['ignore', 'ignore', 'inherit'] });
  return glb;
}

// The same, written by ExportTile: quantized and meshopt-compressed, as
// tiles are.
export function makeCompressedGlb(scenehost, work, name, commands) {
  const script = path.join(work, `${name}.txt`);
  const glb = path.join(work, `${name}.glb`);
  fs.writeFileSync(script, [...commands, `ExportTile '${glb}' '' ''`].join('\n') + '\n');
  execFileSync(scenehost, ['-q', '--script', script], { cwd: work, stdio: ['ignore', 'ignore', 'inherit'] });
  return glb;
}

// glTF y-up (x, y, z) is 3D Tiles z-up (x, -z, y).
function tilesBox(min, max) {
  const c = [(min[0] + max[0]) / 2, -(min[2] + max[2]) / 2, (min[1] + max[1]) / 2];
  const h = [(max[0] - min[0]) / 2, (max[2] - min[2]) / 2, (max[1] - min[1]) / 2];
  return { box: [...c, h[0], 0, 0, 0, h[1], 0, 0, 0, h[2]] };
}

// The test tileset, a small quadtree in three levels, positions in glTF
// coordinates (y up):
//   root      parent.glb: one low block (1 storey) per corner, error 8
//   quadrant  mid_<corner>.glb: that corner's tower at 3 storeys, error 4
//   leaf      leaf_<corner>.glb: the tower in full (6 storeys, 54 m wide,
//             85 m high, centred on its position), error 0
// The parent is saved by --save; the others by ExportTile, meshopt-compressed.
// with the towers in the corners of a 400 m square.
export const CORNERS = {
  ne: [150, 150],
  nw: [-150, 150],
  se: [150, -150],
  sw: [-150, -150],
};

// georeferenced: the root carries an east-north-up to earth-centred
// transform. wrapped: that root is the only child of a root without a
// transform whose box is in earth-centred coordinates, as many published
// tilesets are.
export function makeTileset(scenehost, work, { georeferenced = false, wrapped = false } = {}) {
  const dir = path.join(work, wrapped ? 'tileset_wrapped' : georeferenced ? 'tileset_geo' : 'tileset');
  fs.mkdirSync(dir, { recursive: true });
  const quadrants = [];
  const parentCommands = [];
  const tower = (name, floors, x, z) => [`RaiseTower ${name} ${floors} 3 3 brick A 1`, `Translate ${name} ${x} 0 ${z} 1 8 1 2`];
  for (const [corner, [x, z]] of Object.entries(CORNERS)) {
    const name = `Lot_${corner.toUpperCase()}`;
    makeCompressedGlb(scenehost, dir, `leaf_${corner}`, tower(name, 6, x, z));
    makeCompressedGlb(scenehost, dir, `mid_${corner}`, tower(name, 3, x, z));
    parentCommands.push(...tower(`Block_${corner.toUpperCase()}`, 1, x, z));
    const box = tilesBox([x - 30, -45, z - 30], [x + 30, 45, z + 30]);
    quadrants.push({
      boundingVolume: box,
      geometricError: 4,
      content: { uri: `mid_${corner}.glb` },
      children: [{ boundingVolume: box, geometricError: 0, content: { uri: `leaf_${corner}.glb` } }],
    });
  }
  makeGlb(scenehost, dir, 'parent', parentCommands);
  for (const f of fs.readdirSync(dir)) if (f.endsWith('.txt')) fs.rmSync(path.join(dir, f));
  const root = {
    boundingVolume: tilesBox([-200, -45, -200], [200, 45, 200]),
    geometricError: 8,
    refine: 'REPLACE',
    content: { uri: 'parent.glb' },
    children: quadrants,
  };
  // East-north-up at 45 N, 7 E, 300 m up, to earth-centred coordinates.
  let top = root;
  if (georeferenced || wrapped) root.transform = enuToEcef(45, 7, 300);
  if (wrapped) {
    top = { boundingVolume: transformBox(root.transform, root.boundingVolume.box), geometricError: 200,
            refine: 'REPLACE', children: [root] };
  }
  const tileset = { asset: { version: '1.1' }, geometricError: 200, root: top };
  fs.writeFileSync(path.join(dir, 'tileset.json'), JSON.stringify(tileset, null, 1));
  return dir;
}

// A box (centre, three half axes) through a column-major 4x4 transform.
function transformBox(m, box) {
  const apply = (v, w) => [0, 1, 2].map((r) => m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * w);
  return { box: [...apply(box.slice(0, 3), 1), ...apply(box.slice(3, 6), 0), ...apply(box.slice(6, 9), 0),
                 ...apply(box.slice(9, 12), 0)] };
}

function enuToEcef(latDeg, lonDeg, height) {
  const a = 6378137, e2 = 6.69437999014e-3;
  const lat = (latDeg * Math.PI) / 180, lon = (lonDeg * Math.PI) / 180;
  const n = a / Math.sqrt(1 - e2 * Math.sin(lat) ** 2);
  const p = [(n + height) * Math.cos(lat) * Math.cos(lon), (n + height) * Math.cos(lat) * Math.sin(lon),
             (n * (1 - e2) + height) * Math.sin(lat)];
  const east = [-Math.sin(lon), Math.cos(lon), 0];
  const north = [-Math.sin(lat) * Math.cos(lon), -Math.sin(lat) * Math.sin(lon), Math.cos(lat)];
  const up = [Math.cos(lat) * Math.cos(lon), Math.cos(lat) * Math.sin(lon), Math.sin(lat)];
  return [...east, 0, ...north, 0, ...up, 0, ...p, 1];  // column-major
}

// The node names and material colours of a .glb, from its JSON chunk.
export function readGlb(file) {
  const bytes = fs.readFileSync(file);
  const length = bytes.readUInt32LE(12);
  const json = JSON.parse(bytes.subarray(20, 20 + length).toString('utf8'));
  return {
    names: (json.nodes || []).map((n) => n.name).filter(Boolean),
    colours: (json.materials || []).map((m) => (m.pbrMetallicRoughness || {}).baseColorFactor || [1, 1, 1, 1]),
  };
}

// `scenehost view PATH --port 0`: resolves once it prints its URL.
export function startViewer(scenehost, target) {
  return new Promise((resolve, reject) => {
    const child = spawn(scenehost, ['view', target, '--port', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
    // A check that throws must not leave the server running after node ends.
    process.on('exit', () => { if (child.exitCode === null) child.kill('SIGINT'); });
    let out = '', err = '';
    child.stderr.on('data', (d) => { err += d; });
    child.stdout.on('data', (d) => {
      out += d;
      const m = out.match(/(http:\/\/\S+:\d+\/)\n/);
      if (m) resolve({ url: m[1], child, stderr: () => err, stop: () => stopViewer(child) });
    });
    child.on('exit', (code) => reject(new Error(`scenehost view ${target} exited with ${code}: ${err}`)));
  });
}

function stopViewer(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) return resolve(child.exitCode);
    child.removeAllListeners('exit');
    child.on('exit', (code) => resolve(code));
    child.kill('SIGINT');
  });
}

export const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';

// Headless Chromium with WebGL 2 on SwiftShader; null (and why) when it
// cannot start here.
export async function launchBrowser(playwright) {
  if (!fs.existsSync(CHROMIUM)) return { browser: null, why: `${CHROMIUM} is not installed` };
  const args = ['--headless=new', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox');  // Chromium refuses root otherwise
  try {
    const browser = await playwright.chromium.launch({ executablePath: CHROMIUM, headless: true, args, timeout: 60000 });
    return { browser, why: null };
  } catch (e) {
    return { browser: null, why: String(e.message).split('\n')[0] };
  }
}

// A page that records console errors and failed requests.
export async function openPage(browser, url, { width = 800, height = 600 } = {}) {
  const page = await browser.newPage({ viewport: { width, height } });
  const problems = [];
  page.on('console', (m) => { if (m.type() === 'error') problems.push(`console: ${m.text()}`); });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()}`));
  await page.goto(url);
  await page.waitForFunction(() => window.viewerState && window.viewerState.ready, null, { timeout: 60000 });
  await page.evaluate(() => window.viewerState.idle());
  return { page, problems };
}
