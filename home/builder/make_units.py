#!/usr/bin/env python3
"""Writes the bundled units library: two styles ("brick", "glass"), eight
.obj units each, plus one .mtl per style, into objs/ next to this script.

    python3 make_units.py [output-folder]

Kit conventions (see README.md): a unit fills one 13.5 x 13.5 cell centred on
its origin in x and z, from y = 0 up (storey units 14 tall, roof units 1.5).
Facades face +X with their outer face on x = +6.75; corner units also face
+Z. Every polygon has flat outward normals and planar UVs (one tile per
cell face). The output is deterministic: same script, same bytes.
"""

import os
import sys

HALF = 6.75          # half the cell size
STOREY = 14.0        # storey unit height
WALL = 0.5           # wall thickness
ROOF_EDGE = 1.5      # parapet height = roof unit height
ROOF_SLAB = 0.4      # roof slab thickness
GLASS_DEPTH = 0.3    # glass set back from the outer face
FRAME_DEPTH = 0.25   # frame bars just in front of the glass
FRAME = 0.15         # frame bar width


# ---- geometry records --------------------------------------------------------

class Unit:
    """Polygons of one unit: (points, normal, material), points CCW seen
    from the side the normal points to."""

    def __init__(self, name):
        self.name = name
        self.faces = []

    def quad(self, pts, normal, material):
        pts = [tuple(round(c, 6) + 0.0 for c in p) for p in pts]
        if len(set(pts)) < 4:
            return  # degenerate: a zero-width strip
        a, b, c = pts[0], pts[1], pts[2]
        e1 = [b[i] - a[i] for i in range(3)]
        e2 = [c[i] - a[i] for i in range(3)]
        cross = (e1[1] * e2[2] - e1[2] * e2[1],
                 e1[2] * e2[0] - e1[0] * e2[2],
                 e1[0] * e2[1] - e1[1] * e2[0])
        if sum(cross[i] * normal[i] for i in range(3)) < 0:
            pts = pts[::-1]
        for p in pts:
            assert -HALF - 1e-9 <= p[0] <= HALF + 1e-9, (self.name, p)
            assert -HALF - 1e-9 <= p[2] <= HALF + 1e-9, (self.name, p)
            assert -1e-9 <= p[1] <= STOREY + 1e-9, (self.name, p)
        self.faces.append((pts, normal, material))


def uv_of(p, n):
    """Planar UV seen from outside the face: u to the viewer's right,
    v up (for floors and ceilings, v runs along -z / +z)."""
    x, y, z = p
    if n[0] > 0.5:
        u, v = -z / (2 * HALF), y / STOREY
    elif n[0] < -0.5:
        u, v = z / (2 * HALF), y / STOREY
    elif n[2] > 0.5:
        u, v = x / (2 * HALF), y / STOREY
    elif n[2] < -0.5:
        u, v = -x / (2 * HALF), y / STOREY
    elif n[1] > 0.5:
        u, v = x / (2 * HALF), -z / (2 * HALF)
    else:
        u, v = x / (2 * HALF), z / (2 * HALF)
    return (round(u + 0.5, 6) + 0.0, round(v, 6) + 0.0)


# ---- facade panels ---------------------------------------------------------------

class Face:
    """An outward facade plane: +X (u = -z) or +Z (u = x); d is the depth
    behind the outer face, v the height."""

    def __init__(self, axis):
        self.axis = axis

    def point(self, u, v, d):
        if self.axis == 'x':
            return (HALF - d, v, -u)
        return (u, v, HALF - d)

    def out(self):
        return (1.0, 0.0, 0.0) if self.axis == 'x' else (0.0, 0.0, 1.0)

    def along(self):
        return (0.0, 0.0, -1.0) if self.axis == 'x' else (1.0, 0.0, 0.0)

    def rect(self, unit, u0, u1, v0, v1, d, normal, material):
        unit.quad([self.point(u0, v0, d), self.point(u1, v0, d),
                   self.point(u1, v1, d), self.point(u0, v1, d)], normal, material)

    def side(self, unit, u, v0, v1, d0, d1, normal, material):
        """A strip across the wall's thickness at a constant u."""
        unit.quad([self.point(u, v0, d0), self.point(u, v0, d1),
                   self.point(u, v1, d1), self.point(u, v1, d0)], normal, material)

    def level(self, unit, u0, u1, v, d0, d1, normal, material):
        """A strip across the wall's thickness at a constant height."""
        unit.quad([self.point(u0, v, d0), self.point(u1, v, d0),
                   self.point(u1, v, d1), self.point(u0, v, d1)], normal, material)


def neg(n):
    return tuple(-c + 0.0 for c in n)


UP, DOWN = (0.0, 1.0, 0.0), (0.0, -1.0, 0.0)


def banded(face, unit, u0, u1, v0, v1, bands):
    """Outer-face rectangle split at the style's band heights."""
    for b0, b1, material in bands:
        lo, hi = max(v0, b0), min(v1, b1)
        if hi > lo + 1e-9:
            face.rect(unit, u0, u1, lo, hi, 0.0, face.out(), material)


def panel(unit, face, style, height, outer=(-HALF, HALF), inner=(-HALF, HALF),
          caps=(-HALF, HALF), inner_from=0.0, bottom=True, opening=None, infill=None,
          bands=None):
    """A wall slab WALL thick with an optional opening (u0, u1, v0, v1)."""
    m = style['mat']
    bands = bands or [(0.0, height, m['wall'])]
    o0, o1 = outer
    if opening is None:
        banded(face, unit, o0, o1, 0.0, height, bands)
        face.rect(unit, inner[0], inner[1], inner_from, height, WALL, neg(face.out()), m['plaster'])
        face.level(unit, caps[0], caps[1], height, 0.0, WALL, UP, m['trim'])
        if bottom:
            face.level(unit, caps[0], caps[1], 0.0, 0.0, WALL, DOWN, m['plaster'])
        return
    a0, a1, b0, b1 = opening
    for (u0, u1, v0, v1) in [(o0, a0, 0.0, height), (a1, o1, 0.0, height),
                             (a0, a1, 0.0, b0), (a0, a1, b1, height)]:
        banded(face, unit, u0, u1, v0, v1, bands)
    for (u0, u1, v0, v1) in [(inner[0], a0, inner_from, height), (a1, inner[1], inner_from, height),
                             (a0, a1, inner_from, b0), (a0, a1, b1, height)]:
        if v1 > v0:
            face.rect(unit, u0, u1, v0, v1, WALL, neg(face.out()), m['plaster'])
    face.level(unit, caps[0], caps[1], height, 0.0, WALL, UP, m['trim'])
    if bottom:
        if b0 > 0.0:
            face.level(unit, caps[0], caps[1], 0.0, 0.0, WALL, DOWN, m['plaster'])
        else:
            face.level(unit, caps[0], a0, 0.0, 0.0, WALL, DOWN, m['plaster'])
            face.level(unit, a1, caps[1], 0.0, 0.0, WALL, DOWN, m['plaster'])
    # Reveals: the opening's sides, head and sill, facing into the opening.
    face.side(unit, a0, b0, b1, 0.0, WALL, face.along(), m['trim'])
    face.side(unit, a1, b0, b1, 0.0, WALL, neg(face.along()), m['trim'])
    face.level(unit, a0, a1, b1, 0.0, WALL, DOWN, m['trim'])
    if b0 > 0.0:
        face.level(unit, a0, a1, b0, 0.0, WALL, UP, m['trim'])
    infill(unit, face, style, opening)


def frame_bars(unit, face, m, a0, a1, b0, b1, mullions, transoms, bottom_bar=True):
    """Flat frame bars in front of the glass: a ring plus inner bars."""
    n, d, w = face.out(), FRAME_DEPTH, FRAME
    face.rect(unit, a0, a0 + w, b0, b1, d, n, m['frame'])
    face.rect(unit, a1 - w, a1, b0, b1, d, n, m['frame'])
    face.rect(unit, a0 + w, a1 - w, b1 - w, b1, d, n, m['frame'])
    if bottom_bar:
        face.rect(unit, a0 + w, a1 - w, b0, b0 + w, d, n, m['frame'])
    lo = b0 + (w if bottom_bar else 0.0)
    cuts = sorted(mullions)
    for u in cuts:
        face.rect(unit, u - w / 2, u + w / 2, lo, b1 - w, d, n, m['frame'])
    edges = [a0 + w] + [x for u in cuts for x in (u - w / 2, u + w / 2)] + [a1 - w]
    for v in transoms:
        for i in range(0, len(edges), 2):
            face.rect(unit, edges[i], edges[i + 1], v - w / 2, v + w / 2, d, n, m['frame'])


def pane(unit, face, m, a0, a1, b0, b1, material=None):
    """A double-sided pane set back in the opening."""
    material = material or m['glass']
    face.rect(unit, a0, a1, b0, b1, GLASS_DEPTH, face.out(), material)
    face.rect(unit, a0, a1, b0, b1, GLASS_DEPTH, neg(face.out()), material)


def window(unit, face, style, opening):
    m = style['mat']
    a0, a1, b0, b1 = opening
    pane(unit, face, m, a0, a1, b0, b1)
    frame_bars(unit, face, m, a0, a1, b0, b1, style['mullions'](a0, a1), style['transoms'](b0, b1))
    # Sill: a ledge along the bottom of the reveal.
    face.level(unit, a0, a1, b0 + 0.12, 0.0, FRAME_DEPTH, UP, m['trim'])
    face.rect(unit, a0, a1, b0, b0 + 0.12, 0.0, face.out(), m['trim'])


def door(unit, face, style, opening):
    m = style['mat']
    a0, a1, b0, b1 = opening
    leaf_top = b1 - 1.6
    pane(unit, face, m, a0, a1, b0, leaf_top, m['door'])
    pane(unit, face, m, a0, a1, leaf_top, b1)
    frame_bars(unit, face, m, a0, a1, b0, b1, [(a0 + a1) / 2], [leaf_top], bottom_bar=False)


# ---- the eight units of a style -----------------------------------------------------

def storey_unit(name, style, kind):
    unit = Unit(name)
    face = Face('x')
    opening, infill = style_opening(style, kind)
    panel(unit, face, style, STOREY, opening=opening, infill=infill, bands=style_bands(style, kind))
    return unit


def style_opening(style, kind):
    if kind in ('floorclose', 'groundclose'):
        return None, None
    if kind == 'grounddoor':
        return style['door'], door
    return style[kind + 'window'], window


def style_bands(style, kind):
    ground = kind.startswith('ground')
    return style['groundbands'] if ground else style['floorbands']


def corner_unit(name, style):
    unit = Unit(name)
    opening = style['floorwindow']
    bands = style['floorbands']
    # +X face runs the full cell; its inner face stops where the +Z wall
    # begins. The +Z face covers the post's end, so the corner is closed.
    panel(unit, Face('x'), style, STOREY, inner=(-HALF + WALL, HALF),
          opening=opening, infill=window, bands=bands)
    panel(unit, Face('z'), style, STOREY, inner=(-HALF, HALF - WALL), caps=(-HALF, HALF - WALL),
          opening=opening, infill=window, bands=bands)
    return unit


def roof_slab(unit, m, x1, z0, z1, edges):
    """Flat slab from the cell's inner edge to the parapets."""
    x0 = -HALF
    y0, y1 = 0.0, ROOF_SLAB
    unit.quad([(x0, y1, z0), (x1, y1, z0), (x1, y1, z1), (x0, y1, z1)], UP, m['roof'])
    unit.quad([(x0, y0, z0), (x1, y0, z0), (x1, y0, z1), (x0, y0, z1)], DOWN, m['plaster'])
    if '-x' in edges:
        unit.quad([(x0, y0, z0), (x0, y0, z1), (x0, y1, z1), (x0, y1, z0)], (-1.0, 0.0, 0.0), m['trim'])
    if '-z' in edges:
        unit.quad([(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0)], (0.0, 0.0, -1.0), m['trim'])


def roof_unit(name, style):
    unit = Unit(name)
    m = style['mat']
    bands = [(0.0, ROOF_EDGE, m['trim'])]
    panel(unit, Face('x'), style, ROOF_EDGE, inner_from=ROOF_SLAB, bottom=False, bands=bands)
    roof_slab(unit, m, HALF - WALL, -HALF, HALF, ['-x'])
    return unit


def roof_corner_unit(name, style):
    unit = Unit(name)
    m = style['mat']
    bands = [(0.0, ROOF_EDGE, m['trim'])]
    panel(unit, Face('x'), style, ROOF_EDGE, inner=(-HALF + WALL, HALF), inner_from=ROOF_SLAB,
          bottom=False, bands=bands)
    panel(unit, Face('z'), style, ROOF_EDGE, inner=(-HALF, HALF - WALL), caps=(-HALF, HALF - WALL),
          inner_from=ROOF_SLAB, bottom=False, bands=bands)
    roof_slab(unit, m, HALF - WALL, -HALF, HALF - WALL, ['-x', '-z'])
    return unit


def units_of(style_name, style):
    s = style_name
    return [
        corner_unit('p1900_angle' + s, style),
        roof_corner_unit('p1900_angleroof' + s, style),
        storey_unit('p1900_floor' + s, style, 'floor'),
        storey_unit('p1900_floor' + s + 'close', style, 'floorclose'),
        storey_unit('p1900_ground' + s, style, 'ground'),
        storey_unit('p1900_ground' + s + 'close', style, 'groundclose'),
        storey_unit('p1900_ground' + s + 'door', style, 'grounddoor'),
        roof_unit('p1900_roof' + s, style),
    ]


# ---- styles ------------------------------------------------------------------

MATERIAL_KEYS = ('wall', 'trim', 'plaster', 'glass', 'frame', 'door', 'roof')


def make_style(prefix, colours, floorwindow, groundwindow, door, transoms, plinths, cornice):
    """One style: `colours` in MATERIAL_KEYS order; window and door openings
    as (a0, a1, b0, b1); the wall band of a storey runs from its plinth
    (floor, ground; 0 for none) up to the cornice, trim below and above."""
    mat = {k: prefix + '_' + k for k in MATERIAL_KEYS}

    def bands(plinth):
        wall = [(plinth, cornice, mat['wall']), (cornice, STOREY, mat['trim'])]
        return ([(0.0, plinth, mat['trim'])] if plinth else []) + wall

    return {
        'mat': mat,
        'colours': dict(zip(MATERIAL_KEYS, colours)),
        'floorwindow': floorwindow,
        'groundwindow': groundwindow,
        'door': door,
        'mullions': lambda a0, a1: [(a0 + a1) / 2],
        'transoms': transoms,
        'floorbands': bands(plinths[0]),
        'groundbands': bands(plinths[1]),
    }


STYLES = {
    'brick': make_style(
        'brick',
        [(0.55, 0.22, 0.15), (0.78, 0.74, 0.66), (0.90, 0.88, 0.82), (0.45, 0.60, 0.70),
         (0.95, 0.95, 0.93), (0.36, 0.22, 0.12), (0.30, 0.30, 0.32)],
        floorwindow=(-2.25, 2.25, 4.0, 11.0),
        groundwindow=(-3.25, 3.25, 2.5, 11.0),
        door=(-2.5, 2.5, 0.0, 10.0),
        transoms=lambda b0, b1: [b1 - 2.0],
        plinths=(0.0, 1.2), cornice=13.3),
    'glass': make_style(
        'glass',
        [(0.40, 0.44, 0.48), (0.78, 0.80, 0.82), (0.92, 0.92, 0.92), (0.55, 0.74, 0.82),
         (0.60, 0.62, 0.65), (0.15, 0.16, 0.18), (0.45, 0.45, 0.44)],
        floorwindow=(-6.0, 6.0, 1.2, 12.8),
        groundwindow=(-6.0, 6.0, 0.8, 12.8),
        door=(-3.0, 3.0, 0.0, 10.5),
        transoms=lambda b0, b1: [b0 + 0.9],
        plinths=(1.2, 0.8), cornice=12.8),
}


# ---- output --------------------------------------------------------------------

def fmt(x):
    text = '%.6f' % x
    text = text.rstrip('0').rstrip('.')
    return '0' if text in ('-0', '') else text


def write_obj(path, unit, mtl):
    positions, uvs, normals = {}, {}, {}

    def index(table, key):
        if key not in table:
            table[key] = len(table) + 1
        return table[key]

    body = []
    current = None
    for pts, n, material in unit.faces:
        if material != current:
            body.append('usemtl %s' % material)
            current = material
        refs = []
        for p in pts:
            refs.append('%d/%d/%d' % (index(positions, p), index(uvs, uv_of(p, n)), index(normals, n)))
        body.append('f ' + ' '.join(refs))

    lines = ['# %s: unit of the HouseSmith units library (made by make_units.py)' % unit.name,
             '# %d polygons' % len(unit.faces), 'mtllib %s' % mtl, 'o %s' % unit.name]
    lines += ['v %s %s %s' % tuple(fmt(c) for c in p) for p in positions]
    lines += ['vt %s %s' % tuple(fmt(c) for c in t) for t in uvs]
    lines += ['vn %s %s %s' % tuple(fmt(c) for c in n) for n in normals]
    lines += body
    with open(path, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


def write_mtl(path, style_name, style):
    lines = ['# materials of the "%s" units style (made by make_units.py)' % style_name]
    for key in MATERIAL_KEYS:
        r, g, b = style['colours'][key]
        lines += ['', 'newmtl %s' % style['mat'][key], 'Ka 0 0 0',
                  'Kd %s %s %s' % (fmt(r), fmt(g), fmt(b)),
                  'Ks 0.1 0.1 0.1' if key != 'glass' else 'Ks 0.6 0.6 0.6',
                  'Ns 20' if key != 'glass' else 'Ns 200',
                  'd 1' if key != 'glass' else 'd 0.5', 'illum 2']
    with open(path, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'objs')
    os.makedirs(out, exist_ok=True)
    for style_name in sorted(STYLES):
        style = STYLES[style_name]
        mtl = style_name + '.mtl'
        write_mtl(os.path.join(out, mtl), style_name, style)
        for unit in units_of(style_name, style):
            write_obj(os.path.join(out, unit.name + '.obj'), unit, mtl)
            print('%-28s %3d polygons' % (unit.name + '.obj', len(unit.faces)))


if __name__ == '__main__':
    main()
