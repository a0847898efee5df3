// The page of `scenehost view`: one .glb through GLTFLoader, or a 3D Tiles
// folder streamed by 3d-tiles-renderer, both with the meshopt decoder.
// Lit and coloured as the preview renderer draws (host/src/render/):
//   colour = diffuse x (0.4 + 0.6 x max(0, n . L)), L = (0.5, 1, 0.3) normalised,
// written without a gamma step, on the preview's background and ground.
import {
  AmbientLight, Box3, Color, ColorManagement, DirectionalLight, DoubleSide, Group,
  LinearSRGBColorSpace, Matrix4, Mesh, MeshLambertMaterial, PerspectiveCamera, PlaneGeometry,
  Raycaster, Scene, Sphere, Vector2, Vector3, WebGLRenderer,
} from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { MeshoptDecoder } from 'three/addons/libs/meshopt_decoder.module.js';
import { TilesRenderer, WGS84_ELLIPSOID } from '3d-tiles-renderer';
import { GLTFExtensionsPlugin } from '3d-tiles-renderer/plugins';

// The preview renderer's numbers (host/src/render/preview_renderer.h).
const AMBIENT = 0.4;
const SUN = 0.6;
const SUN_DIRECTION = new Vector3(0.5, 1.0, 0.3).normalize();
const GROUND = [0.78, 0.78, 0.76];
const BACKGROUND = [0.90, 0.91, 0.93];

// Colours are the files' numbers, as the preview writes them.
ColorManagement.enabled = false;

const $ = (id) => document.getElementById(id);

// The test hook: what the browser tests and the benchmark read.
const state = {
  ready: false,          // content loaded and the camera fitted
  kind: null,            // "glb" or "tileset"
  name: null,
  tilesLoaded: 0,
  triangles: 0,
  frames: 0,
  requested: [],         // every content URL asked for, in order
  picked: null,          // the name shown after the last click
  firstFullFrameMs: null,// ms from navigation to the first frame with nothing left to load
  errors: [],
  box: null,             // the content's box in the viewer's frame (y up): {min, max}
  moveCamera,            // (position [x,y,z], target [x,y,z])
  fit: () => fitCamera(),
  pickAt,                // (x, y) in CSS pixels: the name there, also shown
  idle,                  // resolves when nothing is loading
};
window.viewerState = state;

const container = $('view');
const renderer = new WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
renderer.outputColorSpace = LinearSRGBColorSpace;
renderer.setPixelRatio(window.devicePixelRatio);
renderer.setSize(container.clientWidth, container.clientHeight);
renderer.info.autoReset = false;
container.appendChild(renderer.domElement);

const scene = new Scene();
scene.background = new Color(...BACKGROUND);
// three's Lambert divides by pi; these intensities give 0.4 and 0.6.
scene.add(new AmbientLight(0xffffff, AMBIENT * Math.PI));
const sun = new DirectionalLight(0xffffff, SUN * Math.PI);
sun.position.copy(SUN_DIRECTION);
scene.add(sun);
scene.add(sun.target);

const camera = new PerspectiveCamera(45, container.clientWidth / container.clientHeight, 0.1, 1e6);
const controls = new OrbitControls(camera, renderer.domElement);
controls.enableDamping = false;
controls.screenSpacePanning = true;

const content = new Group();  // what clicks can hit
scene.add(content);
let ground = null;
let tiles = null;
const contentBox = new Box3();

// Every material becomes the preview's: the diffuse colour, lit, both sides.
const lambertOf = new Map();
function previewMaterial(material) {
  const key = material.uuid;
  if (!lambertOf.has(key)) {
    const color = material.color ? material.color.clone() : new Color(0.8, 0.8, 0.8);
    lambertOf.set(key, new MeshLambertMaterial({ color, side: DoubleSide, name: material.name }));
  }
  return lambertOf.get(key);
}
// A click shows the glTF node's own name (the loader makes a node of
// several materials a group of meshes named "<mesh>_<i>").
function markNodes(gltf) {
  const associations = gltf && gltf.parser && gltf.parser.associations;
  const nodes = (gltf && gltf.parser && gltf.parser.json.nodes) || [];
  if (!associations) return;
  gltf.scene.traverse((o) => {
    const a = associations.get(o);
    if (a && a.nodes !== undefined && nodes[a.nodes] && nodes[a.nodes].name) o.userData.nodeName = nodes[a.nodes].name;
  });
}

function usePreviewMaterials(root) {
  root.traverse((o) => {
    if (!o.isMesh) return;
    o.material = Array.isArray(o.material) ? o.material.map(previewMaterial) : previewMaterial(o.material);
  });
}

function showMessage(text) {
  const m = $('message');
  m.textContent = text;
  m.style.display = 'block';
}

function fail(text) {
  state.errors.push(text);
  showMessage(text);
  console.error(text);
}

// The ground of the preview: just below the lowest point, reaching past the
// footprint by 60% of its larger side.
function placeGround(box) {
  if (ground) scene.remove(ground);
  const size = box.getSize(new Vector3());
  const reach = 0.6 * Math.max(size.x, size.z) + 1e-3;
  const geometry = new PlaneGeometry(size.x + 2 * reach, size.z + 2 * reach);
  geometry.rotateX(-Math.PI / 2);
  ground = new Mesh(geometry, new MeshLambertMaterial({ color: new Color(...GROUND) }));
  const center = box.getCenter(new Vector3());
  ground.position.set(center.x, box.min.y - 1e-3 * (size.y + reach), center.z);
  ground.name = '';
  scene.add(ground);
}

// From the iso side, (1, 1, 1) as the preview's iso view, far enough for
// the whole box to be in view.
function fitCamera() {
  if (contentBox.isEmpty()) return;
  const sphere = contentBox.getBoundingSphere(new Sphere());
  const fov = (camera.fov * Math.PI) / 180;
  const halfAngle = Math.min(fov, 2 * Math.atan(Math.tan(fov / 2) * camera.aspect)) / 2;
  const distance = (sphere.radius / Math.sin(halfAngle)) * 1.05;
  const direction = new Vector3(1, 1, 1).normalize();
  moveCamera(sphere.center.clone().addScaledVector(direction, distance).toArray(), sphere.center.toArray());
}

function moveCamera(position, target) {
  camera.position.fromArray(position);
  controls.target.fromArray(target);
  controls.update();
  updateClipping();
  busyFrame = state.frames;
}

function updateClipping() {
  const size = contentBox.isEmpty() ? 1 : contentBox.getSize(new Vector3()).length();
  const distance = camera.position.distanceTo(controls.target);
  camera.near = Math.max(0.01, Math.min(distance, size) * 1e-3);
  camera.far = (distance + size) * 10;
  camera.updateProjectionMatrix();
}
controls.addEventListener('change', updateClipping);

function setBox(box) {
  contentBox.copy(box);
  state.box = { min: box.min.toArray(), max: box.max.toArray() };
  placeGround(box);
}

// ---- one .glb -------------------------------------------------------------------

function gltfLoader() {
  const loader = new GLTFLoader();
  loader.setMeshoptDecoder(MeshoptDecoder);
  return loader;
}

async function loadGlb(url) {
  state.requested.push(url);
  const gltf = await gltfLoader().loadAsync(url);
  usePreviewMaterials(gltf.scene);
  markNodes(gltf);
  content.add(gltf.scene);
  content.updateMatrixWorld(true);
  setBox(new Box3().setFromObject(gltf.scene));
  state.tilesLoaded = 1;
  fitCamera();
  state.ready = true;
}

// ---- a tileset ------------------------------------------------------------------

// The tileset is z-up. One placed on the globe (earth-centred coordinates,
// by a root transform from east-north-up or by its own boxes) is brought
// back to metres around its own origin, so that up is up and the numbers
// stay small: a root transform is undone; a tileset still far from the
// origin after that is seen in the east-north-up frame at its centre. Then
// z-up turns into three's y-up.
function tilesetFrame(rootJson) {
  const local = new Matrix4();
  const t = rootJson && rootJson.transform;
  if (Array.isArray(t) && t.length === 16) {
    const m = new Matrix4().fromArray(t);
    if (Math.abs(m.determinant()) > 1e-12) local.copy(m).invert();
  }
  const box = new Box3(), obb = new Matrix4();
  if (tiles.getOrientedBoundingBox(box, obb)) {
    const centre = box.getCenter(new Vector3()).applyMatrix4(obb);
    if (centre.clone().applyMatrix4(local).length() > 1e5) {
      const at = WGS84_ELLIPSOID.getPositionToCartographic(centre, {});
      local.copy(WGS84_ELLIPSOID.getEastNorthUpFrame(at.lat, at.lon, at.height, new Matrix4())).invert();
    }
  }
  return new Matrix4().makeRotationX(-Math.PI / 2).multiply(local);
}

function loadTileset(url) {
  tiles = new TilesRenderer(url);
  tiles.registerPlugin(new GLTFExtensionsPlugin({ meshoptDecoder: MeshoptDecoder }));
  tiles.loadSiblings = false;  // only what the camera sees is fetched
  tiles.setCamera(camera);
  tiles.setResolutionFromRenderer(camera, renderer);
  content.add(tiles.group);

  tiles.addEventListener('tile-download-start', (e) => state.requested.push(e.url));
  tiles.addEventListener('load-model', (e) => {
    usePreviewMaterials(e.scene);
    markNodes(e.tile.engineData && e.tile.engineData.metadata);
  });
  tiles.addEventListener('load-error', (e) => fail(`cannot load ${e.url}: ${e.error && e.error.message}`));
  tiles.addEventListener('load-root-tileset', () => {
    tiles.group.matrixAutoUpdate = false;
    tiles.group.matrix.copy(tilesetFrame(tiles.rootTileset.root));
    tiles.group.updateMatrixWorld(true);
    const box = new Box3(), obb = new Matrix4();
    if (tiles.getOrientedBoundingBox(box, obb)) {
      obb.premultiply(tiles.group.matrixWorld);
      setBox(box.applyMatrix4(obb));
      fitCamera();
    }
    state.ready = true;
  });
}

// ---- picking ----------------------------------------------------------------------

// The name of the object under a point: the glTF node's name (a building is
// one node, named by the run that raised it).
const raycaster = new Raycaster();
function pickAt(x, y) {
  const rect = renderer.domElement.getBoundingClientRect();
  const ndc = new Vector2(((x - rect.left) / rect.width) * 2 - 1, -((y - rect.top) / rect.height) * 2 + 1);
  raycaster.setFromCamera(ndc, camera);
  const hit = raycaster.intersectObject(content, true)[0];
  let name = null;
  for (let o = hit && hit.object; o && o !== content; o = o.parent) {
    if (o.userData.nodeName) {
      name = o.userData.nodeName;
      break;
    }
  }
  if (hit && !name) name = hit.object.name || null;
  state.picked = name;
  const panel = $('picked');
  panel.textContent = name || '';
  panel.style.display = name ? 'block' : 'none';
  return name;
}

// A click is a press and release without a drag.
let pressed = null;
renderer.domElement.addEventListener('pointerdown', (e) => { pressed = [e.clientX, e.clientY]; });
renderer.domElement.addEventListener('pointerup', (e) => {
  if (pressed && Math.hypot(e.clientX - pressed[0], e.clientY - pressed[1]) < 4) pickAt(e.clientX, e.clientY);
  pressed = null;
});
window.addEventListener('keydown', (e) => { if (e.key === 'f' || e.key === 'F') fitCamera(); });

window.addEventListener('resize', () => {
  camera.aspect = container.clientWidth / container.clientHeight;
  camera.updateProjectionMatrix();
  renderer.setSize(container.clientWidth, container.clientHeight);
  if (tiles) tiles.setResolutionFromRenderer(camera, renderer);
});

// Resolves once the content is in and nothing has been loading for a few
// frames (a camera move asks for tiles only at the next update).
let busyFrame = 0;
function busy() {
  if (!state.ready) return true;
  if (!tiles) return false;
  const s = tiles.stats;
  return tiles.isLoading || s.queued + s.downloading + s.parsing > 0 || !tiles.root;
}
function idle() {
  return new Promise((resolve) => {
    const check = () => {
      if (!busy() && state.frames - busyFrame >= 5) resolve();
      else setTimeout(check, 20);
    };
    check();
  });
}

// ---- the frame loop ---------------------------------------------------------------

let lastShown = '';
function frame() {
  requestAnimationFrame(frame);
  camera.updateMatrixWorld();
  if (tiles) {
    tiles.update();
    state.tilesLoaded = tiles.stats.loaded;
  }
  renderer.info.reset();
  renderer.render(scene, camera);
  state.triangles = renderer.info.render.triangles - (ground ? 2 : 0);
  state.frames += 1;
  if (busy()) busyFrame = state.frames;
  // The first frame drawn with content and nothing left to load.
  if (state.firstFullFrameMs === null && state.ready && !busy() && (!tiles || tiles.visibleTiles.size > 0)) {
    state.firstFullFrameMs = performance.now();
  }
  const shown = `${state.tilesLoaded} ${state.triangles}`;
  if (shown !== lastShown) {
    lastShown = shown;
    $('tiles').textContent = String(state.tilesLoaded);
    $('triangles').textContent = state.triangles.toLocaleString('en');
  }
}

async function start() {
  let info;
  try {
    const response = await fetch('view.json');
    info = await response.json();
  } catch (e) {
    fail(`cannot read view.json: ${e.message}`);
    return;
  }
  state.kind = info.kind;
  state.name = info.name;
  document.title = `${info.name} - scenehost view`;
  $('name').textContent = info.name;
  requestAnimationFrame(frame);
  try {
    if (info.kind === 'glb') {
      await loadGlb(info.url);
    } else {
      loadTileset(info.url);
    }
  } catch (e) {
    fail(`cannot load ${info.url}: ${e.message}`);
  }
}

start();
