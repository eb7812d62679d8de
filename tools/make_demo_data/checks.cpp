// Reading the written car back with the renderer's own OBJ loader, placing it with the demo's
// transforms and checking that it fits: wheels on the floor, axles in the arches, glass on the
// cabin, textures of a size the demo takes.
#include "tools/make_demo_data/placed_car.h"

#include <FreeImage.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

int failures = 0;

void Check(bool ok, const char* what, double value, double want)
{
    std::printf("  %-58s %10.5f (want %.5f) %s\n", what, value, want, ok ? "ok" : "FAILED");
    if (!ok) ++failures;
}

void CheckNear(const char* what, double value, double want, double tol = 1e-3)
{
    Check(std::fabs(value - want) <= tol, what, value, want);
}

void PrintBox(const char* name, const Box3& b)
{
    std::printf("  %-10s x [%8.4f, %8.4f]  y [%8.4f, %8.4f]  z [%8.4f, %8.4f]\n", name, b.lo.x,
                b.hi.x, b.lo.y, b.hi.y, b.lo.z, b.hi.z);
}

long FileSize(const std::string& path)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<long>(n);
}

void CheckTexture(const std::string& path)
{
    int w = 0, h = 0;
    bool ok = false;
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (FIBITMAP* bmp = fif == FIF_UNKNOWN ? nullptr : FreeImage_Load(fif, path.c_str(), 0)) {
        w = static_cast<int>(FreeImage_GetWidth(bmp));
        h = static_cast<int>(FreeImage_GetHeight(bmp));
        ok = FreeImage_GetBPP(bmp) == 24;
        FreeImage_Unload(bmp);
    }
    long size = FileSize(path);
    bool good = ok && w <= 1024 && h <= 1024 && size > 0 && size < 600 * 1024;
    std::printf("  %-40s %4d x %-4d 24-bit %7ld bytes %s\n",
                std::filesystem::path(path).filename().string().c_str(), w, h, size,
                good ? "ok" : "FAILED");
    if (!good) ++failures;
}

// One model through the loader the demo uses; its normals must be of unit length, since the
// renderer does not normalise them.
bool Load(CObject& m, const char* file)
{
    const size_t reported = std::strlen(_3D_KRV_Report_Error.c_str());
    if (!m.LoadObj("Models/golf/", file) || m.NumVertex == 0) {
        std::printf("FAILED: %s could not be loaded: %s\n", file,
                    _3D_KRV_Report_Error.c_str() + reported);
        return false;
    }
    for (int i = 0; i < m.NumVertex; ++i) {
        const CVertex& v = m.Vertex[i];
        const double n = Length(NormalOf(v));
        if (std::fabs(n - 1.0) > 1e-3) {
            std::printf("FAILED: normal not of unit length in %s\n", file);
            return false;
        }
    }
    return true;
}

bool LoadCar(const std::string& outDir, PlacedCar& car)
{
    ModuleDirectory = (outDir + "/").c_str();
    if (!Load(car.body, "golf.obj") || !Load(car.glass, "GolfVetri.obj")) return false;
    for (CObject& w : car.wheels)
        if (!Load(w, "GolfRuota.obj")) return false;
    return true;
}

// The demo's placement, with the renderer's transforms: rotate about y, translate by
// (dx - cx, ty, dz - cz) with cx, cz the centre of the rotated bounds, scale by s.
void Place(CObject& m, float angle, float dx, float ty, float dz, float s)
{
    m.Rotate3fv(angle, vec3(0.0f, 1.0f, 0.0f));
    const float cx = (m.Min.x + m.Max.x) / 2.0f, cz = (m.Min.z + m.Max.z) / 2.0f;
    m.Translate3fv(vec3(dx - cx, ty, dz - cz));
    m.Scale3fv(vec3(s, s, s));
}

// The car as it lies in the files.
void CheckFileUnits(const PlacedCar& car, const Box3& bb)
{
    Box3 gb = Bounds(car.glass), wb = Bounds(car.wheels[0]);
    std::printf("Bounds in the files:\n");
    PrintBox("body", bb);
    PrintBox("glass", gb);
    PrintBox("wheel", wb);
    const double height = bb.Size().y, s = 0.975 / height, r = 0.5 / s - 0.32;
    std::printf("Checks (file units):\n");
    CheckNear("body height (max.y - min.y)", height, kBodyHeight);
    CheckNear("body centre x", bb.Centre().x, 0.0);
    Check(bb.lo.y > kAxleY - r + 0.05, "body lowest point above the ground (0.25 - r + 0.05)",
          bb.lo.y, kAxleY - r + 0.05);
    CheckNear("wheel centre x", wb.Centre().x, 0.0, 1e-4);
    CheckNear("wheel centre y", wb.Centre().y, 0.0, 1e-4);
    CheckNear("wheel centre z", wb.Centre().z, 0.0, 1e-4);
    CheckNear("wheel radius (half height)", 0.5 * wb.Size().y, r);
    CheckNear("wheel radius (half length)", 0.5 * wb.Size().z, r);
    CheckNear("wheel half width", 0.5 * wb.Size().x, kWheelHalfWidth);
    CheckNear("glass centre x", gb.Centre().x, 0.0);
    CheckNear("glass centre z - body centre z", gb.Centre().z - bb.Centre().z, kGlassOffsetZ);
    CheckNear("front arch centre z - body centre z", kAxleZFront - bb.Centre().z, -1.1);
    CheckNear("rear arch centre z - body centre z", kAxleZRear - bb.Centre().z, 1.18);
    CheckNear("arch centre height - body lowest point", kAxleY - bb.lo.y, 0.25);
    Check(kArchRadius - r >= 0.03, "arch radius - wheel radius (>= 0.03)", kArchRadius - r, 0.03);
    double flank = std::min({FlankX(kAxleZFront, kAxleY), FlankX(kAxleZRear, kAxleY)});
    Check(kAxleX + kWheelHalfWidth <= flank + 0.012, "wheel outer face x <= flank + lip",
          kAxleX + kWheelHalfWidth, flank + 0.012);
    Check(kAxleX - kWheelHalfWidth > kWellInnerX, "wheel inner face x > well inner wall",
          kAxleX - kWheelHalfWidth, kWellInnerX);
    Check(bb.Size().x >= 1.6, "body width with mirrors (>= 1.6)", bb.Size().x, 1.6);
}

// Wheel i as placed: on the floor, centred on its axle (taken in the body file and placed like
// the body), its hub cap (vertex hubCap, the wheel file's largest x) facing away from the car.
void CheckPlacedWheel(const PlacedCar& car, int i, const Box3& bb, double s, int hubCap)
{
    Box3 w = Bounds(car.wheels[i]);
    char name[24];
    std::snprintf(name, sizeof(name), "wheel %d", i + 1);
    PrintBox(name, w);
    double zAxle = (i % 2 == 0 ? kAxleZRear : kAxleZFront) - bb.Centre().z;
    double xAxle = i < 2 ? kAxleX : -kAxleX;
    V3 axle = {-zAxle * s, (kAxleY - 0.57) * s, (xAxle - bb.Centre().x) * s};
    char what[96];
    std::snprintf(what, sizeof(what), "wheel %d lowest point y (floor)", i + 1);
    CheckNear(what, w.lo.y, -0.5);
    std::snprintf(what, sizeof(what), "wheel %d centre x - axle x in the arch", i + 1);
    CheckNear(what, w.Centre().x - axle.x, 0.0);
    std::snprintf(what, sizeof(what), "wheel %d centre y - axle y in the arch", i + 1);
    CheckNear(what, w.Centre().y - axle.y, 0.0);
    std::snprintf(what, sizeof(what), "wheel %d centre z - axle z in the arch", i + 1);
    CheckNear(what, w.Centre().z - axle.z, 0.0);
    std::snprintf(what, sizeof(what), "wheel %d hub cap |z| - centre |z| (outward)", i + 1);
    double capOut = std::fabs(PositionOf(car.wheels[i].Vertex[hubCap]).z) - std::fabs(w.Centre().z);
    Check(capOut > 0.05, what, capOut, 0.05);
}

// The scene as the demo places it: one factor for all parts, from the body's height as loaded.
void PlaceAndCheck(PlacedCar& car, const Box3& bb)
{
    int hubCap = 0;
    for (int k = 0; k < car.wheels[0].NumVertex; ++k)
        if (car.wheels[0].Vertex[k].x > car.wheels[0].Vertex[hubCap].x) hubCap = k;
    const float s = 0.975f / (car.body.Max.y - car.body.Min.y);
    Place(car.body, -90.0f, 0.0f, -0.57f, 0.0f, s);
    Place(car.glass, -90.0f, -0.42f, -0.57f, 0.0f, s);
    const float wheelPlace[4][4] = {{-90.0f, -1.18f, -0.32f, 0.7f},
                                    {-90.0f, 1.1f, -0.32f, 0.7f},
                                    {90.0f, -1.18f, -0.32f, -0.7f},
                                    {90.0f, 1.1f, -0.32f, -0.7f}};
    for (int i = 0; i < 4; ++i)
        Place(car.wheels[i], wheelPlace[i][0], wheelPlace[i][1], wheelPlace[i][2], wheelPlace[i][3],
              s);
    std::printf("Placed in the scene (s = %.6f):\n", static_cast<double>(s));
    Box3 pb = Bounds(car.body), pg = Bounds(car.glass);
    PrintBox("body", pb);
    PrintBox("glass", pg);
    for (int i = 0; i < 4; ++i) CheckPlacedWheel(car, i, bb, static_cast<double>(s), hubCap);
    Check(
        pg.lo.y >= pb.lo.y && pg.hi.y <= pb.hi.y + 1e-6 && pg.lo.z >= pb.lo.z && pg.hi.z <= pb.hi.z,
        "glass inside the body's bounds", 1.0, 1.0);
}

void CheckFiles(const std::string& outDir)
{
    const std::string modelDir = outDir + "/Models/golf/";
    std::printf("Files:\n");
    for (const char* f : {"golf.obj", "golf.mtl", "GolfVetri.obj", "GolfVetri.mtl", "GolfRuota.obj",
                          "GolfRuota.mtl"})
        std::printf("  %-40s %7ld bytes\n", f, FileSize(modelDir + f));
    CheckTexture(outDir + "/" + kFloorTexture);
    CheckTexture(modelDir + kBodyTexture);
    CheckTexture(modelDir + kWheelTexture);
}

}  // namespace

bool Verify(const std::string& outDir, const std::string& preview,
            const std::vector<DetailView>& views)
{
    PlacedCar car;
    if (!LoadCar(outDir, car)) return false;
    const int nb = car.body.NumVertex / 3, ng = car.glass.NumVertex / 3,
              nw = car.wheels[0].NumVertex / 3;
    std::printf("Triangles: body %d, glass %d, wheel %d; car with four wheels %d\n", nb, ng, nw,
                nb + ng + 4 * nw);
    const Box3 bb = Bounds(car.body);
    CheckFileUnits(car, bb);
    PlaceAndCheck(car, bb);
    if (!WritePreviews(car, outDir, preview, views)) return false;
    CheckFiles(outDir);
    if (failures) {
        std::printf("%d check(s) FAILED\n", failures);
        return false;
    }
    std::printf("All checks passed.\n");
    return true;
}
