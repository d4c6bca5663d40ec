#!/usr/bin/env python3
"""Convert the Jacksboro fault elevation model into the demo's height map and texture.

Usage: make_demo_terrain.py JACKSBORO_FAULT_DEM.NPZ [OUTPUT_DIR]

The model (USGS, public domain) ships in Debian's python-matplotlib-data package as
usr/share/matplotlib/mpl-data/sample_data/jacksboro_fault_dem.npz. OUTPUT_DIR defaults to
the repository's demo/ folder. The script needs only the Python standard library and is
deterministic: the same input always gives byte-identical PNGs.

Outputs:
  heightmap.png  one pixel per model cell, north at the top; each pixel holds the height in
                 centimetres as a signed 24-bit count (red most significant, then green, blue).
  texture.png    one texel per world unit, HDateiSkalaX x HDateiSkalaY texels per model cell,
                 north at the top: hypsometric tint times hill shading, with water in blue.
"""

import ast
import math
import os
import struct
import sys
import zipfile
import zlib

SCALE_X = 3.0            # world units (texels) per model cell, east-west
EXAGGERATION = 2.5       # vertical exaggeration of the heights given to the renderer
SHADE_EXAGGERATION = 3.0  # vertical exaggeration used for the hill shading baked into the texture
# Direction in which the light travels (the scenery's LichtX/LichtY/LichtZ): from the north-west,
# 35 degrees above the horizon. The baked shading uses the same light as the renderer.
LIGHT = (1.0, -1.0, -1.0)
COUNTS_PER_METRE = 100   # height-map count unit: one centimetre

NPY_TYPES = {'<i2': 'h', '<i4': 'i', '<f4': 'f', '<f8': 'd', '|i1': 'b', '|u1': 'B', '<u2': 'H'}


def read_npy(data):
    """Parse one .npy file; return (shape, flat list of values in C order)."""
    if data[:6] != b'\x93NUMPY':
        raise ValueError('not a .npy file')
    major = data[6]
    if major == 1:
        (hlen,) = struct.unpack('<H', data[8:10])
        start = 10
    else:
        (hlen,) = struct.unpack('<I', data[8:12])
        start = 12
    header = ast.literal_eval(data[start:start + hlen].decode('latin1'))
    shape = tuple(header['shape'])
    code = NPY_TYPES.get(header['descr'])
    if code is None:
        raise ValueError('unsupported dtype %r' % header['descr'])
    count = 1
    for n in shape:
        count *= n
    body = data[start + hlen:]
    values = list(struct.unpack('<%d%s' % (count, code), body[:count * struct.calcsize(code)]))
    if header['fortran_order'] and len(shape) == 2:
        rows, cols = shape
        values = [values[c * rows + r] for r in range(rows) for c in range(cols)]
    return shape, values


def write_png(path, width, height, rows):
    """Write an 8-bit RGB PNG; rows are bytes objects of 3*width bytes, top row first.
    Every row uses the Paeth filter, which suits smooth images."""
    bpp = 3
    out = bytearray()
    prev = bytes(width * bpp)
    for row in rows:
        out.append(4)
        filt = bytearray(len(row))
        for i, x in enumerate(row):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if (pa <= pb and pa <= pc) else (b if pb <= pc else c)
            filt[i] = (x - pred) & 0xFF
        out += filt
        prev = row

    def chunk(tag, payload):
        return (struct.pack('>I', len(payload)) + tag + payload
                + struct.pack('>I', zlib.crc32(tag + payload) & 0xFFFFFFFF))

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(bytes(out), 9)))
        f.write(chunk(b'IEND', b''))


def lerp(a, b, t):
    return a + (b - a) * t


def tint(metres, lo, hi):
    """Hypsometric colour: green lowlands, yellow-brown slopes, light grey-brown heights."""
    stops = [(0.00, (92, 138, 72)), (0.22, (128, 158, 84)), (0.45, (186, 172, 108)),
             (0.70, (168, 136, 96)), (1.00, (214, 206, 192))]
    t = min(1.0, max(0.0, (metres - lo) / (hi - lo)))
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            f = (t - t0) / (t1 - t0)
            return [lerp(c0[k], c1[k], f) for k in range(3)]
    return list(stops[-1][1])


def hash_noise(i, j, seed):
    """Deterministic value in [-1, 1] for lattice point (i, j)."""
    n = (i * 73856093) ^ (j * 19349663) ^ (seed * 83492791)
    n = (n ^ (n >> 13)) * 1274126177 & 0xFFFFFFFF
    return ((n ^ (n >> 16)) & 0xFFFF) / 32767.5 - 1.0


def value_noise(u, v, cell, seed):
    """Smooth noise: bilinear interpolation of lattice values spaced `cell` texels apart."""
    x, y = u / cell, v / cell
    i, j = int(x), int(y)
    fx, fy = x - i, y - j
    fx, fy = fx * fx * (3 - 2 * fx), fy * fy * (3 - 2 * fy)
    return lerp(lerp(hash_noise(i, j, seed), hash_noise(i + 1, j, seed), fx),
                lerp(hash_noise(i, j + 1, seed), hash_noise(i + 1, j + 1, seed), fx), fy)


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    out_dir = sys.argv[2] if len(sys.argv) == 3 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), '..', 'demo')

    with zipfile.ZipFile(sys.argv[1]) as z:
        (H, W), elev = read_npy(z.read('elevation.npy'))
        meta = {k: read_npy(z.read(k + '.npy'))[1][0]
                for k in ('dx', 'dy', 'xmin', 'xmax', 'ymin', 'ymax')}

    # Rows and columns run from (xmin, ymin) to (xmax, ymax). In this file ymin is the larger
    # latitude, so the first row is already the northern edge (the geography agrees: the
    # Cumberland Plateau lies to the west, Norris Lake to the south-east). Flip only if needed.
    grid = [elev[r * W:(r + 1) * W] for r in range(H)]
    if meta['ymin'] < meta['ymax']:
        grid.reverse()
    if meta['xmin'] > meta['xmax']:
        grid = [row[::-1] for row in grid]

    # Cell size in metres at the model's mean latitude.
    lat = math.radians((meta['ymin'] + meta['ymax']) / 2)
    m_per_deg_lat = 111132.92 - 559.82 * math.cos(2 * lat) + 1.175 * math.cos(4 * lat)
    m_per_deg_lon = 111412.84 * math.cos(lat) - 93.5 * math.cos(3 * lat)
    cell_x_m = abs(meta['dx']) * m_per_deg_lon
    cell_y_m = abs(meta['dy']) * m_per_deg_lat

    # Square world units: the y spacing keeps the true aspect, rounded to a quarter unit.
    scale_x = SCALE_X
    scale_y = round(scale_x * cell_y_m / cell_x_m * 4) / 4
    m_per_unit = cell_x_m / scale_x
    tex_w, tex_h = int(round(W * scale_x)), int(round(H * scale_y))
    z_scale = float('%.1g' % (EXAGGERATION / COUNTS_PER_METRE / m_per_unit))
    exaggeration = z_scale * COUNTS_PER_METRE * m_per_unit

    # Height map: signed 24-bit centimetre counts.
    rows = []
    for row in grid:
        line = bytearray()
        for metres in row:
            count = int(round(metres * COUNTS_PER_METRE)) & 0xFFFFFF
            line += bytes(((count >> 16) & 0xFF, (count >> 8) & 0xFF, count & 0xFF))
        rows.append(bytes(line))
    write_png(os.path.join(out_dir, 'heightmap.png'), W, H, rows)

    lo = min(min(r) for r in grid)
    hi = max(max(r) for r in grid)

    # Water: the reservoir surface is the one height that occurs far more often than any other;
    # a cell counts as water when it and at least two of its eight neighbours lie at that level.
    counts = {}
    for row in grid:
        for metres in row:
            counts[metres] = counts.get(metres, 0) + 1
    ranked = sorted(counts.items(), key=lambda kv: -kv[1])
    lake = ranked[0][0] if ranked[0][1] > 2 * ranked[1][1] else None

    def at(r, c):
        return grid[min(H - 1, max(0, r))][min(W - 1, max(0, c))]

    water = [[0.0] * W for _ in range(H)]
    shade = [[0.0] * W for _ in range(H)]
    lx, ly, lz = LIGHT
    ln = math.sqrt(lx * lx + ly * ly + lz * lz)
    lx, ly, lz = -lx / ln, -ly / ln, -lz / ln          # towards the light
    for r in range(H):
        for c in range(W):
            if lake is not None and grid[r][c] == lake:
                same = sum(at(r + dr, c + dc) == lake
                           for dr in (-1, 0, 1) for dc in (-1, 0, 1)) - 1
                water[r][c] = 1.0 if same >= 2 else 0.0
            # Surface normal from central differences (row index grows southwards).
            gx = (at(r, c + 1) - at(r, c - 1)) / (2 * cell_x_m) * SHADE_EXAGGERATION
            gy = (at(r - 1, c) - at(r + 1, c)) / (2 * cell_y_m) * SHADE_EXAGGERATION
            n = math.sqrt(gx * gx + gy * gy + 1)
            shade[r][c] = max(0.0, (-gx * lx - gy * ly + lz) / n)
    flat = lz                                           # shade of level ground

    def bilinear(field, fc, fr):
        c0, r0 = min(int(fc), W - 2), min(int(fr), H - 2)
        tx, ty = fc - c0, fr - r0
        return lerp(lerp(field[r0][c0], field[r0][c0 + 1], tx),
                    lerp(field[r0 + 1][c0], field[r0 + 1][c0 + 1], tx), ty)

    # Texture: texel (u, v) lies at world (u, v), v counting upwards from the bottom row.
    rows = []
    for j in range(tex_h):
        v = tex_h - 1 - j
        fr = min(H - 1.0, max(0.0, (H - 1) - v / scale_y))
        line = bytearray()
        for u in range(tex_w):
            fc = min(W - 1.0, u / scale_x)
            metres = bilinear(grid, fc, fr)
            noise = 0.06 * value_noise(u, v, 23.0, 1) + 0.03 * value_noise(u, v, 7.0, 2)
            rgb = tint(metres + 40 * value_noise(u, v, 41.0, 3), lo, hi)
            wet = bilinear(water, fc, fr)
            if wet > 0.5:
                rgb = [58, 92, 128]
                light = 1.0 + 0.5 * noise
            else:
                light = (0.5 + 0.5 * bilinear(shade, fc, fr) / flat) * (1.0 + noise)
            line += bytes(min(255, max(0, int(k * light + 0.5))) for k in rgb)
        rows.append(bytes(line))
    write_png(os.path.join(out_dir, 'texture.png'), tex_w, tex_h, rows)

    print('model: %d x %d cells of %.1f m (east-west) x %.1f m (north-south)'
          % (W, H, cell_x_m, cell_y_m))
    print('heightmap.png: %d x %d, count unit 1 cm%s'
          % (W, H, '' if lake is None else ', lake level %d m' % lake))
    print('texture.png: %d x %d' % (tex_w, tex_h))
    print('HDateiSkalaX=%g' % scale_x)
    print('HDateiSkalaY=%g' % scale_y)
    print('HDateiSkalaZA=HDateiSkalaZE=%g  (%.2f m per world unit, vertical exaggeration %.2f)'
          % (z_scale, m_per_unit, exaggeration))
    print('terrain extent: %g x %g world units' % (W * scale_x, H * scale_y))
    print('height: %d .. %d m = %.1f .. %.1f world units'
          % (lo, hi, lo * COUNTS_PER_METRE * z_scale, hi * COUNTS_PER_METRE * z_scale))


if __name__ == '__main__':
    main()
