// The korvane Python module's native half: the renderer, models and their views, and a thin
// immediate-mode layer, over the same library calls krv-render makes (krvLoadModel,
// krvRenderModelView and its exact passes), so that a frame from Python has krv-render's bytes.
//
// Arrays are allocated by numpy and rendered or read straight into (no copy on our side); every
// library call that draws runs with the GIL released, under the renderer's lock, since the
// library has one rendering context a process.
#include "api/krv.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace py = pybind11;

namespace {

// korvane.Error, set up in the module's init.
py::handle errorType;

// The last line of the error report (the one the failing call added), without its line end.
std::string LastReportLine(const char* fallback)
{
    std::string report = krvGetErrorReport();
    while (!report.empty() && (report.back() == '\n' || report.back() == '\r')) report.pop_back();
    const size_t start = report.find_last_of('\n');
    std::string line = start == std::string::npos ? report : report.substr(start + 1);
    while (!line.empty() && line.back() == '\r') line.pop_back();
    return line.empty() ? std::string(fallback) : line;
}

[[noreturn]] void Raise(const std::string& message)
{
    PyErr_SetString(errorType.ptr(), message.c_str());
    throw py::error_already_set();
}

[[noreturn]] void RaiseFromReport(const char* fallback) { Raise(LastReportLine(fallback)); }

// The one rendering context of the process belongs to the live renderer.
std::mutex contextLock;
bool contextTaken = false;

int AntiAliasingMode(int factor)
{
    switch (factor) {
    case 1: return KrvAA_Off;
    case 2: return KrvAA_2x2;
    case 3: return KrvAA_3x3;
    case 4: return KrvAA_4x4;
    default:
        throw py::value_error("aa must be 1 (off), 2 (4x), 3 (9x) or 4 (16x), not " +
                              std::to_string(factor));
    }
}

vec3 Vec3(const py::handle& h, const char* what)
{
    std::vector<float> v;
    try {
        v = py::cast<std::vector<float>>(h);
    } catch (const py::cast_error&) {
        throw py::value_error(std::string(what) + " must be three numbers");
    }
    if (v.size() != 3) throw py::value_error(std::string(what) + " must be three numbers");
    return vec3(v[0], v[1], v[2]);
}

// A model and the arrays of its parts, released with it.
struct Model {
    CModel model;
    bool loaded = false;
    ~Model()
    {
        if (loaded) krvDestroyModel(&model);
    }
    void Check() const
    {
        if (!loaded) Raise("the model was closed");
    }
};

// A view from Python keyword arguments; a missing key keeps the library's default.
CModelView ViewOf(const py::dict& d)
{
    CModelView v;
    for (auto item : d) {
        const std::string key = py::cast<std::string>(item.first);
        const py::handle value = item.second;
        if (key == "yaw")
            v.yaw = py::cast<float>(value);
        else if (key == "pitch")
            v.pitch = py::cast<float>(value);
        else if (key == "distance")
            v.distance = py::cast<float>(value);
        else if (key == "fov")
            v.fieldOfView = py::cast<float>(value);
        else if (key == "eye") {
            v.eye = Vec3(value, "eye");
            v.lookAt = true;
        } else if (key == "target") {
            v.target = Vec3(value, "target");
            v.lookAt = true;
        } else if (key == "up")
            v.up = Vec3(value, "up");
        else if (key == "light")
            v.light = Vec3(value, "light");
        else if (key == "lighting")
            v.lighting = py::cast<bool>(value);
        else if (key == "shadows")
            v.shadows = py::cast<bool>(value);
        else if (key == "floor")
            v.floor = py::cast<bool>(value);
        else if (key == "background")
            v.background = Vec3(value, "background");
        else
            throw py::value_error("unknown view setting '" + key + "'");
    }
    return v;
}

enum Output { Out_Color = 1, Out_Depth = 2, Out_Normals = 4, Out_Ids = 8 };

int OutputsOf(const std::vector<std::string>& names)
{
    int outputs = 0;
    for (const std::string& n : names) {
        if (n == "color")
            outputs |= Out_Color;
        else if (n == "depth")
            outputs |= Out_Depth;
        else if (n == "normals")
            outputs |= Out_Normals;
        else if (n == "ids")
            outputs |= Out_Ids;
        else
            throw py::value_error("unknown output '" + n + "' (color, depth, normals, ids)");
    }
    if (!outputs) throw py::value_error("no output asked for");
    return outputs;
}

class Renderer {
public:
    Renderer(int width, int height, int aa, int threads)
    {
        if (width < 1 || height < 1 || width > 8192 || height > 8192)
            throw py::value_error("the size must be 1 to 8192 a side, not " +
                                  std::to_string(width) + " x " + std::to_string(height));
        if (threads < 0) throw py::value_error("threads must be 0 (one a core) or more");
        const int mode = AntiAliasingMode(aa);
        std::lock_guard<std::mutex> hold(contextLock);
        if (contextTaken)
            Raise(
                "a renderer is already live in this process (one rendering context a "
                "process): close it first");
        krvClearErrorReport();
        if (threads > 0) krvSetThreads(threads);
        krvSetAntiAliasing(mode);
        if (!krvCreateOffscreen(width, height)) RaiseFromReport("cannot create the picture");
        contextTaken = true;
        live_ = true;
        width_ = width;
        height_ = height;
        aa_ = aa;
    }
    ~Renderer() { Close(); }

    void Close()
    {
        std::lock_guard<std::mutex> hold(contextLock);
        if (!live_) return;
        krvDestroyOffscreen();
        contextTaken = false;
        live_ = false;
    }

    int Width() const { return width_; }
    int Height() const { return height_; }
    int Aa() const { return aa_; }
    bool Live() const { return live_; }

    void Check() const
    {
        if (!live_) Raise("the renderer was closed");
    }

    // Renders the views of model into freshly allocated arrays, stacked when stacked is true.
    py::dict Render(Model& model, const std::vector<CModelView>& views, int outputs, bool stacked)
    {
        Check();
        model.Check();
        const py::ssize_t n = static_cast<py::ssize_t>(views.size());
        const py::ssize_t h = height_, w = width_;
        auto shape = [&](std::vector<py::ssize_t> tail) {
            std::vector<py::ssize_t> s;
            if (stacked) s.push_back(n);
            s.insert(s.end(), tail.begin(), tail.end());
            return s;
        };
        py::array_t<uint8_t> color, normals;
        py::array_t<float> depth;
        py::array_t<uint16_t> ids;
        if (outputs & Out_Color) color = py::array_t<uint8_t>(shape({h, w, 3}));
        if (outputs & Out_Depth) depth = py::array_t<float>(shape({h, w}));
        if (outputs & Out_Normals) normals = py::array_t<uint8_t>(shape({h, w, 3}));
        if (outputs & Out_Ids) ids = py::array_t<uint16_t>(shape({h, w}));
        const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
        for (py::ssize_t i = 0; i < n; ++i) {
            const CModelView& v = views[static_cast<size_t>(i)];
            const size_t at = static_cast<size_t>(i) * pixels;
            uint8_t* c = outputs & Out_Color ? color.mutable_data() + at * 3 : nullptr;
            float* d = outputs & Out_Depth ? depth.mutable_data() + at : nullptr;
            uint8_t* nr = outputs & Out_Normals ? normals.mutable_data() + at * 3 : nullptr;
            uint16_t* id = outputs & Out_Ids ? ids.mutable_data() + at : nullptr;
            bool ok = true;
            {
                py::gil_scoped_release unlocked;
                std::lock_guard<std::mutex> hold(contextLock);
                krvClearErrorReport();
                if (c) ok = krvRenderModelView(&model.model, &v) && krvReadPixels(c, pixels * 3);
                if (ok && d) ok = krvRenderModelDepth(&model.model, &v, d, pixels);
                if (ok && nr) ok = krvRenderModelNormals(&model.model, &v, nr, pixels * 3);
                if (ok && id) ok = krvRenderModelIds(&model.model, &v, id, pixels);
            }
            if (!ok) RaiseFromReport("the view could not be rendered");
            // Ctrl-C between views: the next view does not start.
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
        py::dict out;
        if (outputs & Out_Color) out["color"] = color;
        if (outputs & Out_Depth) out["depth"] = depth;
        if (outputs & Out_Normals) out["normals"] = normals;
        if (outputs & Out_Ids) out["ids"] = ids;
        return out;
    }

    // Renders one colour view and writes it as a PNG (the library's writer, as krv-render's).
    void SavePng(Model& model, const CModelView& view, const std::string& path)
    {
        Check();
        model.Check();
        bool ok;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> hold(contextLock);
            krvClearErrorReport();
            ok = krvRenderModelView(&model.model, &view) && krvSavePixelsPNG(path.c_str());
        }
        if (!ok) RaiseFromReport("the picture could not be saved");
    }

    // The current picture (after immediate-mode drawing) read into a new array.
    py::array_t<uint8_t> ReadPixels()
    {
        Check();
        py::array_t<uint8_t> a(
            {static_cast<py::ssize_t>(height_), static_cast<py::ssize_t>(width_), py::ssize_t{3}});
        bool ok;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> hold(contextLock);
            krvClearErrorReport();
            ok = krvReadPixels(a.mutable_data(), static_cast<size_t>(a.size()));
        }
        if (!ok) RaiseFromReport("cannot read the picture");
        return a;
    }

    py::array_t<float> ReadDepth()
    {
        Check();
        py::array_t<float> a({static_cast<py::ssize_t>(height_), static_cast<py::ssize_t>(width_)});
        bool ok;
        {
            py::gil_scoped_release unlocked;
            std::lock_guard<std::mutex> hold(contextLock);
            krvClearErrorReport();
            ok = krvReadDepth(a.mutable_data(), static_cast<size_t>(a.size()));
        }
        if (!ok) RaiseFromReport("cannot read the depth");
        return a;
    }

private:
    bool live_ = false;
    int width_ = 0, height_ = 0, aa_ = 2;
};

std::unique_ptr<Model> LoadModel(const std::string& path)
{
    auto m = std::make_unique<Model>();
    bool ok;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(contextLock);
        krvClearErrorReport();
        ok = krvLoadModel(&m->model, path.c_str());
    }
    if (!ok) RaiseFromReport(("cannot load " + path).c_str());
    m->loaded = true;
    return m;
}

// A model through the OBJ reader the demo uses (CObject::LoadObj), as one part: the path for
// OBJ files while a program wants the demo's own loader rather than the importer.
std::unique_ptr<Model> LoadObjModel(const std::string& path)
{
    auto m = std::make_unique<Model>();
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    CObject object;
    bool ok;
    {
        py::gil_scoped_release unlocked;
        std::lock_guard<std::mutex> hold(contextLock);
        krvClearErrorReport();
        const CString directory = ModuleDirectory;
        ModuleDirectory = "";  // the path is used as given, not beside the program
        ok = object.LoadObj(folder.c_str(), file.c_str());
        ModuleDirectory = directory;
    }
    if (!ok || object.NumVertex <= 0) {
        object.Destroy();
        RaiseFromReport(("cannot load " + path).c_str());
    }
    object.GetMinMax();
    m->model.parts = new CModelPart[1];
    m->model.partCount = 1;
    CModelPart& part = m->model.parts[0];
    part.texture = object.Texture;
    part.textured = object.Texture.Bits != nullptr;
    object.Texture = CTexture();
    part.object = object;
    m->model.boxMin = object.Min;
    m->model.boxMax = object.Max;
    m->model.triangles = object.NumVertex / 3;
    m->model.materials = 1;
    m->model.textures = part.textured ? 1 : 0;
    m->loaded = true;
    return m;
}

// A model from arrays: positions (T*3, 3) of independent triangles, one part a call's entry,
// with its colour. Normals are the faces' own.
std::unique_ptr<Model> ModelFromParts(const py::list& parts)
{
    auto m = std::make_unique<Model>();
    const int count = static_cast<int>(py::len(parts));
    if (count < 1 || count > kMaxModelParts)
        throw py::value_error("a model needs 1 to " + std::to_string(kMaxModelParts) + " parts");
    std::vector<py::array_t<float, py::array::c_style | py::array::forcecast>> arrays;
    std::vector<vec4> colours;
    long long vertices = 0;
    for (py::handle p : parts) {
        py::tuple t = py::cast<py::tuple>(p);
        if (t.size() != 2) throw py::value_error("each part is (positions, (r, g, b, a))");
        auto a = py::cast<py::array_t<float, py::array::c_style | py::array::forcecast>>(t[0]);
        if (a.ndim() != 2 || a.shape(1) != 3 || a.shape(0) < 3 || a.shape(0) % 3 != 0)
            throw py::value_error("positions must be an (N, 3) array, N a positive multiple of 3");
        std::vector<float> c = py::cast<std::vector<float>>(t[1]);
        if (c.size() != 4) throw py::value_error("a part's colour is (r, g, b, a)");
        vertices += a.shape(0);
        if (vertices > kMaxObjVertices) throw py::value_error("too many vertices");
        arrays.push_back(a);
        colours.push_back(vec4(c[0], c[1], c[2], c[3]));
    }
    m->model.parts = new CModelPart[static_cast<size_t>(count)];
    m->model.partCount = count;
    m->loaded = true;  // from here the destructor releases what was made
    bool first = true;
    for (int i = 0; i < count; ++i) {
        CModelPart& part = m->model.parts[i];
        const auto& a = arrays[static_cast<size_t>(i)];
        const int n = static_cast<int>(a.shape(0));
        part.colour = colours[static_cast<size_t>(i)];
        part.material = i;
        part.object.Vertex = new CVertex[static_cast<size_t>(n)]();
        part.object.NumVertex = n;
        const float* p = a.data();
        for (int k = 0; k < n; k += 3) {
            const vec3 p0(p[3 * k], p[3 * k + 1], p[3 * k + 2]);
            const vec3 p1(p[3 * k + 3], p[3 * k + 4], p[3 * k + 5]);
            const vec3 p2(p[3 * k + 6], p[3 * k + 7], p[3 * k + 8]);
            vec3 nrm = cross(p1 - p0, p2 - p0);
            const float len = std::sqrt(dot(nrm, nrm));
            nrm = len > 0.0f ? nrm * (1.0f / len) : vec3(0.0f, 1.0f, 0.0f);
            const vec3 ps[3] = {p0, p1, p2};
            for (int j = 0; j < 3; ++j) {
                CVertex& v = part.object.Vertex[k + j];
                v.x = ps[j].x;
                v.y = ps[j].y;
                v.z = ps[j].z;
                v.r = part.colour.x;
                v.g = part.colour.y;
                v.b = part.colour.z;
                v.nx = nrm.x;
                v.ny = nrm.y;
                v.nz = nrm.z;
                if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
                    throw py::value_error("positions must be finite");
                if (first) {
                    m->model.boxMin = m->model.boxMax = ps[j];
                    first = false;
                }
                vec3& lo = m->model.boxMin;
                vec3& hi = m->model.boxMax;
                lo = vec3(std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z));
                hi = vec3(std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z));
            }
        }
        part.object.GetMinMax();
        m->model.triangles += n / 3;
    }
    m->model.materials = count;
    return m;
}

py::list PartsOf(const Model& m)
{
    m.Check();
    py::list out;
    for (int i = 0; i < m.model.partCount; ++i) {
        const CModelPart& p = m.model.parts[i];
        py::dict d;
        d["name"] = std::string(p.name.c_str());
        d["triangles"] = p.object.NumVertex / 3;
        d["material"] = p.material;
        d["textured"] = p.textured;
        d["color"] = py::make_tuple(p.colour.x, p.colour.y, p.colour.z, p.colour.w);
        out.append(d);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// The immediate-mode layer: matrices as (4, 4) arrays in the usual row-column order, vertices as
// (N, 14) float32 arrays in CVertex's layout (x y z, r g b, u v, nx ny nz, 3 unused).

mat4x4 MatrixOf(const py::array_t<float, py::array::c_style | py::array::forcecast>& a)
{
    if (a.ndim() != 2 || a.shape(0) != 4 || a.shape(1) != 4)
        throw py::value_error("a matrix is a (4, 4) array");
    mat4x4 m;
    const float* p = a.data();
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) m[col * 4 + row] = p[row * 4 + col];
    return m;
}

py::array_t<float> ArrayOf(const mat4x4& m)
{
    py::array_t<float> a({py::ssize_t{4}, py::ssize_t{4}});
    float* p = a.mutable_data();
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) p[row * 4 + col] = m[col * 4 + row];
    return a;
}

void NeedContext()
{
    if (!contextTaken) Raise("no live renderer: make a korvane.Renderer first");
}

void DrawArray(py::array_t<float, py::array::c_style | py::array::forcecast> vertices)
{
    NeedContext();
    if (vertices.ndim() != 2 || vertices.shape(1) != 14 || vertices.shape(0) % 3 != 0)
        throw py::value_error("vertices must be an (N, 14) array, N a multiple of 3");
    if (vertices.shape(0) > kMaxObjVertices) throw py::value_error("too many vertices");
    // The library takes a mutable pointer but does not write through it.
    CVertex* v = reinterpret_cast<CVertex*>(const_cast<float*>(vertices.data()));
    const int n = static_cast<int>(vertices.shape(0));
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> hold(contextLock);
    krvDrawArray(v, 0, n);
}

}  // namespace

PYBIND11_MODULE(_korvane, m)
{
    m.doc() = "The korvane renderer's native module (use the korvane package)";
    // The report lines reach Python in the exceptions; echoing them on stderr too would repeat
    // every failure.
    krvSetErrorEcho(false);
    static py::exception<std::runtime_error> error(m, "Error", PyExc_RuntimeError);
    errorType = error;

    py::class_<Model, std::unique_ptr<Model>>(m, "Model")
        .def_property_readonly("parts", &PartsOf)
        .def_property_readonly("bounds",
                               [](const Model& s) {
                                   s.Check();
                                   const CModel& c = s.model;
                                   return py::make_tuple(
                                       py::make_tuple(c.boxMin.x, c.boxMin.y, c.boxMin.z),
                                       py::make_tuple(c.boxMax.x, c.boxMax.y, c.boxMax.z));
                               })
        .def_property_readonly("triangles",
                               [](const Model& s) {
                                   s.Check();
                                   return s.model.triangles;
                               })
        .def("close", [](Model& s) {
            if (s.loaded) krvDestroyModel(&s.model);
            s.loaded = false;
        });
    m.def("load_model", &LoadModel, py::arg("path"));
    m.def("load_obj_model", &LoadObjModel, py::arg("path"));
    m.def("model_from_parts", &ModelFromParts, py::arg("parts"));

    py::class_<Renderer>(m, "Renderer")
        .def(py::init<int, int, int, int>(), py::arg("width"), py::arg("height"), py::arg("aa"),
             py::arg("threads"))
        .def_property_readonly("width", &Renderer::Width)
        .def_property_readonly("height", &Renderer::Height)
        .def_property_readonly("aa", &Renderer::Aa)
        .def_property_readonly("live", &Renderer::Live)
        .def("close", &Renderer::Close)
        .def(
            "render",
            [](Renderer& r, Model& model, const py::list& views,
               const std::vector<std::string>& outputs, bool stacked) {
                std::vector<CModelView> vs;
                for (py::handle v : views) vs.push_back(ViewOf(py::cast<py::dict>(v)));
                if (!stacked && vs.size() != 1) throw py::value_error("one view expected");
                return r.Render(model, vs, OutputsOf(outputs), stacked);
            },
            py::arg("model"), py::arg("views"), py::arg("outputs"), py::arg("stacked"))
        .def(
            "save_png",
            [](Renderer& r, Model& model, const py::dict& view, const std::string& path) {
                r.SavePng(model, ViewOf(view), path);
            },
            py::arg("model"), py::arg("view"), py::arg("path"))
        .def("read_pixels", &Renderer::ReadPixels)
        .def("read_depth", &Renderer::ReadDepth);

    // Immediate mode.
    m.def("clear", [](int what) {
        NeedContext();
        krvClear(what);
    });
    m.def("load_matrix", [](py::array_t<float, py::array::c_style | py::array::forcecast> a) {
        NeedContext();
        krvLoadMatrix(MatrixOf(a));
    });
    m.def("draw_array", &DrawArray, py::arg("vertices"));
    m.def("switch", [](int code, bool on) {
        NeedContext();
        krvSwitch(code, on);
    });
    m.def("cull_face", [](int mode) {
        NeedContext();
        krvCullFace(mode);
    });
    m.def("perspective", [](float fov, float aspect, float zNear, float zFar) {
        return ArrayOf(perspective(fov, aspect, zNear, zFar));
    });
    m.def("look_at", [](py::handle eye, py::handle target, py::handle up) {
        return ArrayOf(look(Vec3(eye, "eye"), Vec3(target, "target"), Vec3(up, "up")));
    });
    m.def("translate", [](float x, float y, float z) { return ArrayOf(translate(x, y, z)); });
    m.def("rotate",
          [](float angle, py::handle axis) { return ArrayOf(rotate(angle, Vec3(axis, "axis"))); });
    m.def("error_report", []() { return std::string(krvGetErrorReport()); });

    py::module_ codes = m.def_submodule("codes", "the integer codes of the krv calls");
    codes.attr("CLEAR_COLOR") = static_cast<int>(KrvClear_Color);
    codes.attr("CLEAR_DEPTH") = static_cast<int>(KrvClear_Depth);
    codes.attr("CLEAR_BOTH") = static_cast<int>(KrvClear_Both);
    codes.attr("TEXTURING") = static_cast<int>(KrvSwitch_Texturing);
    codes.attr("LIGHTING") = static_cast<int>(KrvSwitch_Lighting);
    codes.attr("DEPTH_TEST") = static_cast<int>(KrvSwitch_DepthTest);
    codes.attr("CULL_NONE") = static_cast<int>(KrvCullMode_None);
    codes.attr("CULL_FRONT") = static_cast<int>(KrvCullMode_Front);
    codes.attr("CULL_BACK") = static_cast<int>(KrvCullMode_Back);
}
