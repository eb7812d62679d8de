#!/usr/bin/python3
# Writes the small models of the importer's tests into this folder (run it again after a change;
# the files are committed): an OBJ of quads and an n-gon with two textured materials, a .gltf
# with an external .bin and PNG, a .glb with an embedded PNG, a PLY with vertex colours, an
# ASCII STL, and one malformed file of each format.
import json
import os
import struct
import zlib

here = os.path.dirname(os.path.abspath(__file__))


def write(name, data, mode="w"):
    with open(os.path.join(here, name), mode) as f:
        f.write(data)


def png(width, height, pixel):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


checker = png(8, 8, lambda x, y: (255, 255, 0) if (x // 4 + y // 4) % 2 else (0, 0, 255))
red = png(4, 4, lambda x, y: (255, 0, 0))
write("checker.png", checker, "wb")
write("red.png", red, "wb")

# OBJ: a quad (two triangles) with one texture, a hexagon (four triangles) with the other, in
# a subfolder so the MTL names its texture with a backslash as other systems write it.
write("quads.obj", """mtllib quads.mtl
v -1 -1 0
v 1 -1 0
v 1 1 0
v -1 1 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vn 0 0 1
o quad
usemtl checker
f 1/1/1 2/2/1 3/3/1 4/4/1
v 2 0 0
v 2.5 0.866 0
v 3.5 0.866 0
v 4 0 0
v 3.5 -0.866 0
v 2.5 -0.866 0
o hexagon
usemtl red
f 5/1/1 6/2/1 7/3/1 8/4/1 9/1/1 10/2/1
""")
write("quads.mtl", """newmtl checker
Kd 1 1 1
map_Kd .\\checker.png
newmtl red
Kd 1 1 1
map_Kd red.png
""")

# glTF: one triangle and one quad as two meshes of two nodes, the second moved by its node.
positions = [0, 0, 0, 1, 0, 0, 0, 1, 0,  0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0]
uvs = [0, 1, 1, 1, 0, 0,  0, 1, 1, 1, 1, 0, 0, 0]
indices = [0, 1, 2,  0, 1, 2, 0, 2, 3]
pos_bytes = struct.pack("<21f", *positions)
uv_bytes = struct.pack("<14f", *uvs)
idx_bytes = struct.pack("<9H", *indices) + b"\0\0"
binary = pos_bytes + uv_bytes + idx_bytes


def gltf_document(buffer_uri, image):
    doc = {
        "asset": {"version": "2.0"},
        "scene": 0,
        "scenes": [{"nodes": [0, 1]}],
        "nodes": [{"mesh": 0, "name": "triangle"},
                  {"mesh": 1, "name": "quad", "translation": [2, 0, 0]}],
        "meshes": [
            {"name": "triangle", "primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 2},
                                                 "indices": 4, "material": 0}]},
            {"name": "quad", "primitives": [{"attributes": {"POSITION": 1, "TEXCOORD_0": 3},
                                             "indices": 5, "material": 1}]}],
        "materials": [
            {"name": "textured", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0},
                                                          "metallicFactor": 0}},
            {"name": "glass", "alphaMode": "BLEND",
             "pbrMetallicRoughness": {"baseColorFactor": [0, 1, 0, 0.5], "metallicFactor": 0}}],
        "textures": [{"source": 0}],
        "images": [image],
        "buffers": [{"byteLength": len(binary)} if buffer_uri is None else
                    {"byteLength": len(binary), "uri": buffer_uri}],
        "bufferViews": [
            {"buffer": 0, "byteOffset": 0, "byteLength": 36},
            {"buffer": 0, "byteOffset": 36, "byteLength": 48},
            {"buffer": 0, "byteOffset": 84, "byteLength": 24},
            {"buffer": 0, "byteOffset": 108, "byteLength": 32},
            {"buffer": 0, "byteOffset": 140, "byteLength": 6},
            {"buffer": 0, "byteOffset": 146, "byteLength": 12}],
        "accessors": [
            {"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
             "min": [0, 0, 0], "max": [1, 1, 0]},
            {"bufferView": 1, "componentType": 5126, "count": 4, "type": "VEC3",
             "min": [0, 0, 0], "max": [1, 1, 0]},
            {"bufferView": 2, "componentType": 5126, "count": 3, "type": "VEC2"},
            {"bufferView": 3, "componentType": 5126, "count": 4, "type": "VEC2"},
            {"bufferView": 4, "componentType": 5123, "count": 3, "type": "SCALAR"},
            {"bufferView": 5, "componentType": 5123, "count": 6, "type": "SCALAR"}],
    }
    return doc


write("scene.bin", binary, "wb")
write("scene.gltf", json.dumps(gltf_document("scene.bin", {"uri": "checker.png"}), indent=1) + "\n")

# GLB: the same scene with the PNG in the binary chunk.
glb_binary = binary + checker + b"\0" * ((4 - len(checker) % 4) % 4)
doc = gltf_document(None, {"bufferView": 6, "mimeType": "image/png"})
doc["buffers"][0]["byteLength"] = len(glb_binary)
doc["bufferViews"].append({"buffer": 0, "byteOffset": len(binary), "byteLength": len(checker)})
text = json.dumps(doc).encode()
text += b" " * ((4 - len(text) % 4) % 4)
glb = (struct.pack("<III", 0x46546C67, 2, 12 + 8 + len(text) + 8 + len(glb_binary))
       + struct.pack("<II", len(text), 0x4E4F534A) + text
       + struct.pack("<II", len(glb_binary), 0x004E4942) + glb_binary)
write("embedded.glb", glb, "wb")

# PLY: a quad of four coloured corners.
write("colours.ply", """ply
format ascii 1.0
element vertex 4
property float x
property float y
property float z
property uchar red
property uchar green
property uchar blue
element face 1
property list uchar int vertex_indices
end_header
0 0 0 255 0 0
1 0 0 0 255 0
1 1 0 0 0 255
0 1 0 255 255 255
4 0 1 2 3
""")

# STL: a tetrahedron, four triangles, counter-clockwise seen from outside, with the zero
# facet normals some exporters write (the importer gives such corners their face's normal).
tetra = [((0, 0, 0), (0, 1, 0), (1, 0, 0)), ((0, 0, 0), (1, 0, 0), (0, 0, 1)),
         ((0, 0, 0), (0, 0, 1), (0, 1, 0)), ((1, 0, 0), (0, 1, 0), (0, 0, 1))]
stl = "solid tetra\n"
for t in tetra:
    stl += " facet normal 0 0 0\n  outer loop\n"
    for v in t:
        stl += "   vertex %g %g %g\n" % v
    stl += "  endloop\n endfacet\n"
write("tetra.stl", stl + "endsolid tetra\n")

# Malformed: one of each format.
os.makedirs(os.path.join(here, "malformed"), exist_ok=True)
write("malformed/truncated.glb", glb[:40], "wb")
write("malformed/bad_json.gltf", '{"asset": {"version": "2.0"}, "meshes": [ {"primitives": 7 ]\n')
write("malformed/missing_bin.gltf",
      json.dumps(gltf_document("not_there.bin", {"uri": "checker.png"})) + "\n")
write("malformed/bad_index.ply", """ply
format ascii 1.0
element vertex 3
property float x
property float y
property float z
element face 1
property list uchar int vertex_indices
end_header
0 0 0
1 0 0
0 1 0
3 0 1 999999
""")
write("malformed/short.stl", struct.pack("<80sI", b"binary", 1000), "wb")
write("malformed/garbage.fbx", b"Kaydara FBX Binary  \0\x1a\0" + b"\xff" * 64, "wb")
write("malformed/points.obj", "v 0 0 0\nv 1 0 0\np 1 2\n")
