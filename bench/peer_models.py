#!/usr/bin/env python3
# The generated models of viewer_peer.sh: a torus of about TRIANGLES triangles (half as many
# distinct vertices, its grid closed on itself), written as the files people have:
#   torus.stl         binary STL: every triangle's three corners apart, one normal per face
#   torus_ascii.stl   the same as text
#   torus.ply         binary PLY with vertex normals; torus_nonormals.ply without
#   torus.glb         binary glTF with vertex normals; torus_nonormals.glb without
#   torus.obj         OBJ with vertex normals;         torus_nonormals.obj without
# Usage: peer_models.py TRIANGLES [FOLDER]
import array
import json
import math
import os
import struct
import sys

target = int(sys.argv[1])
folder = sys.argv[2] if len(sys.argv) > 2 else '.'
# rings around the hole, sides around the tube, twice as many rings as sides
sides = max(3, int(math.sqrt(target / 4)))
rings = 2 * sides
major, minor = 2.0, 0.7
positions, normals = array.array('f'), array.array('f')
for r in range(rings):
    u = 2 * math.pi * r / rings
    cu, su = math.cos(u), math.sin(u)
    for s in range(sides):
        v = 2 * math.pi * s / sides
        cv, sv = math.cos(v), math.sin(v)
        positions.extend(((major + minor * cv) * cu, minor * sv, (major + minor * cv) * su))
        normals.extend((cv * cu, sv, cv * su))
indices = array.array('I')
for r in range(rings):
    r1 = (r + 1) % rings
    for s in range(sides):
        s1 = (s + 1) % sides
        a, b, c, d = r * sides + s, r * sides + s1, r1 * sides + s, r1 * sides + s1
        # counter-clockwise seen from outside
        indices.extend((a, b, c, b, d, c))
vertex_count, face_count = len(positions) // 3, len(indices) // 3
if sys.byteorder != 'little':
    for a in (positions, normals, indices):
        a.byteswap()
pos, nor, idx = positions.tobytes(), normals.tobytes(), indices.tobytes()
if sys.byteorder != 'little':
    for a in (positions, normals, indices):
        a.byteswap()


def path(name):
    return os.path.join(folder, name)


def face_normal(t):
    ia, ib, ic = indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]
    ax, ay, az = positions[3 * ia:3 * ia + 3]
    bx, by, bz = positions[3 * ib:3 * ib + 3]
    cx, cy, cz = positions[3 * ic:3 * ic + 3]
    ux, uy, uz, vx, vy, vz = bx - ax, by - ay, bz - az, cx - ax, cy - ay, cz - az
    nx, ny, nz = uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx
    length = math.sqrt(nx * nx + ny * ny + nz * nz) or 1.0
    return (nx / length, ny / length, nz / length), (ax, ay, az, bx, by, bz, cx, cy, cz)


with open(path('torus.stl'), 'wb') as f, open(path('torus_ascii.stl'), 'w') as text:
    f.write(b'binary STL torus'.ljust(80, b' ') + struct.pack('<I', face_count))
    text.write('solid torus\n')
    record = struct.Struct('<12fH')
    chunk, lines = [], []
    for t in range(face_count):
        n, p = face_normal(t)
        chunk.append(record.pack(*n, *p, 0))
        lines.append('facet normal %e %e %e\nouter loop\nvertex %e %e %e\nvertex %e %e %e\nvertex %e %e %e\n'
                     'endloop\nendfacet\n' % (n + p))
        if len(chunk) == 65536:
            f.write(b''.join(chunk)); text.write(''.join(lines)); chunk, lines = [], []
    f.write(b''.join(chunk)); text.write(''.join(lines))
    text.write('endsolid torus\n')


def write_ply(name, with_normals):
    header = 'ply\nformat binary_little_endian 1.0\nelement vertex %d\nproperty float x\nproperty float y\nproperty float z\n'
    if with_normals:
        header += 'property float nx\nproperty float ny\nproperty float nz\n'
    header += 'element face %d\nproperty list uchar int vertex_indices\nend_header\n'
    with open(path(name), 'wb') as f:
        f.write((header % (vertex_count, face_count)).encode())
        stride = 6 if with_normals else 3
        rows = array.array('f', bytes(4 * stride * vertex_count))
        for k in range(3):
            rows[k::stride] = positions[k::3]
            if with_normals:
                rows[3 + k::stride] = normals[k::3]
        if sys.byteorder != 'little':
            rows.byteswap()
        f.write(rows.tobytes())
        face = struct.Struct('<B3i')
        f.write(b''.join(face.pack(3, indices[3 * t], indices[3 * t + 1], indices[3 * t + 2]) for t in range(face_count)))


def write_glb(name, with_normals):
    views, accessors, blob = [], [], b''
    parts = [(pos, 'VEC3', 5126, True)] + ([(nor, 'VEC3', 5126, False)] if with_normals else []) + \
            [(idx, 'SCALAR', 5125, False)]
    for data, kind, component, bounded in parts:
        accessor = {'bufferView': len(views), 'componentType': component,
                    'count': len(data) // (12 if kind == 'VEC3' else 4), 'type': kind}
        if bounded:
            accessor.update({'min': [-major - minor, -minor, -major - minor], 'max': [major + minor, minor, major + minor]})
        views.append({'buffer': 0, 'byteOffset': len(blob), 'byteLength': len(data)})
        accessors.append(accessor)
        blob += data
    attributes = {'POSITION': 0}
    if with_normals:
        attributes['NORMAL'] = 1
    doc = {'asset': {'version': '2.0'}, 'scene': 0, 'scenes': [{'nodes': [0]}], 'nodes': [{'mesh': 0}],
           'meshes': [{'primitives': [{'attributes': attributes, 'indices': len(accessors) - 1}]}],
           'buffers': [{'byteLength': len(blob)}], 'bufferViews': views, 'accessors': accessors}
    text = json.dumps(doc).encode()
    text += b' ' * (-len(text) % 4)
    with open(path(name), 'wb') as f:
        f.write(struct.pack('<4sII', b'glTF', 2, 12 + 8 + len(text) + 8 + len(blob)))
        f.write(struct.pack('<I4s', len(text), b'JSON')); f.write(text)
        f.write(struct.pack('<I4s', len(blob), b'BIN\0')); f.write(blob)


def write_obj(name, with_normals):
    with open(path(name), 'w') as f:
        f.write(''.join('v %.6f %.6f %.6f\n' % tuple(positions[3 * i:3 * i + 3]) for i in range(vertex_count)))
        if with_normals:
            f.write(''.join('vn %.6f %.6f %.6f\n' % tuple(normals[3 * i:3 * i + 3]) for i in range(vertex_count)))
            corner = '%d//%d'
            f.write(''.join('f %s %s %s\n' % tuple(corner % (i + 1, i + 1) for i in indices[3 * t:3 * t + 3])
                            for t in range(face_count)))
        else:
            f.write(''.join('f %d %d %d\n' % tuple(i + 1 for i in indices[3 * t:3 * t + 3]) for t in range(face_count)))


for with_normals, suffix in ((True, ''), (False, '_nonormals')):
    write_ply('torus%s.ply' % suffix, with_normals)
    write_glb('torus%s.glb' % suffix, with_normals)
    write_obj('torus%s.obj' % suffix, with_normals)
print('torus: %d vertices, %d triangles' % (vertex_count, face_count), file=sys.stderr)
