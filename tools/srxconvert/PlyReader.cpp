#include "PlyReader.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace srxconvert {

namespace {

enum class Type : uint8_t { Int8, UInt8, Int16, UInt16, Int32, UInt32, Float32, Float64 };

bool ParseType(std::string_view name, Type& type) {
    static constexpr std::pair<std::string_view, Type> kNames[] = {
        {"char", Type::Int8},     {"int8", Type::Int8},       {"uchar", Type::UInt8},     {"uint8", Type::UInt8},
        {"short", Type::Int16},   {"int16", Type::Int16},     {"ushort", Type::UInt16},   {"uint16", Type::UInt16},
        {"int", Type::Int32},     {"int32", Type::Int32},     {"uint", Type::UInt32},     {"uint32", Type::UInt32},
        {"float", Type::Float32}, {"float32", Type::Float32}, {"double", Type::Float64}, {"float64", Type::Float64},
        {"double64", Type::Float64}};
    for (const auto& [spelled, value] : kNames)
        if (name == spelled) {
            type = value;
            return true;
        }
    return false;
}

size_t SizeOf(Type type) {
    static constexpr size_t kSizes[] = {1, 1, 2, 2, 4, 4, 4, 8};
    return kSizes[static_cast<int>(type)];
}

bool IsFloat(Type type) { return type == Type::Float32 || type == Type::Float64; }

// What a vertex property gives the mesh, by the names Assimp's reader knows.
enum Role : uint8_t { kNone, kX, kY, kZ, kNx, kNy, kNz, kRed, kGreen, kBlue, kAlpha, kU, kV, kRoles };

Role VertexRole(std::string_view name) {
    static constexpr std::pair<std::string_view, Role> kNames[] = {
        {"x", kX},       {"y", kY},         {"z", kZ},         {"nx", kNx},        {"ny", kNy},
        {"nz", kNz},     {"red", kRed},     {"r", kRed},       {"green", kGreen},  {"g", kGreen},
        {"blue", kBlue}, {"b", kBlue},      {"alpha", kAlpha}, {"u", kU},          {"s", kU},
        {"tx", kU},      {"texture_u", kU}, {"v", kV},         {"t", kV},          {"ty", kV},
        {"texture_v", kV}};
    for (const auto& [spelled, role] : kNames)
        if (name == spelled) return role;
    return kNone;
}

struct Property {
    Type type = Type::Float32;
    Type countType = Type::UInt8;  // of a list
    bool list = false;
    Role role = kNone;          // vertex element
    bool cornerList = false;    // face element: its vertex_indices
    std::string name;
};

struct Element {
    std::string name;
    uint64_t count = 0;
    std::vector<Property> properties;
};

enum class Format { Ascii, LittleEndian, BigEndian };

// The header's lines up to end_header, each split at whitespace.
bool HeaderLine(ByteStream& in, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    for (int c = in.Get();; c = in.Get()) {
        if (c == -1 || c == '\n' || c == ' ' || c == '\t' || c == '\r') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
            if (c == -1) return !words.empty();
            if (c == '\n') return true;
        } else {
            word.push_back(char(c));
        }
    }
}

template <class T>
bool ParseNumber(std::string_view text, T& value) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size();
}

// One value after another, in the file's format.
class Values {
public:
    Values(ByteStream& in, Format format) : in_(in), format_(format) {}

    // False at the end of the data or for a token that is not a number of its type (bad()).
    bool Read(Type type, double& value) {
        if (format_ == Format::Ascii) return ReadToken(type, value);
        size_t size = SizeOf(type);
        if (!in_.Need(size)) return false;
        unsigned char bytes[8];
        std::memcpy(bytes, in_.Data(), size);
        in_.Skip(size);
        if ((format_ == Format::BigEndian) != (std::endian::native == std::endian::big)) std::reverse(bytes, bytes + size);
        switch (type) {
            case Type::Int8: return Take<int8_t>(bytes, value);
            case Type::UInt8: return Take<uint8_t>(bytes, value);
            case Type::Int16: return Take<int16_t>(bytes, value);
            case Type::UInt16: return Take<uint16_t>(bytes, value);
            case Type::Int32: return Take<int32_t>(bytes, value);
            case Type::UInt32: return Take<uint32_t>(bytes, value);
            case Type::Float32: return Take<float>(bytes, value);
            case Type::Float64: return Take<double>(bytes, value);
        }
        return false;
    }
    bool Bad() const { return bad_; }
    const std::string& Token() const { return token_; }

private:
    template <class T>
    static bool Take(const unsigned char* bytes, double& value) {
        T v;
        std::memcpy(&v, bytes, sizeof v);
        value = double(v);
        return true;
    }

    bool ReadToken(Type type, double& value) {
        bool tooLong = false;
        if (!in_.Token(token_, tooLong)) {
            bad_ = tooLong;
            return false;
        }
        bool good = false;
        if (type == Type::Float32) {
            float v = 0;  // parsed as a float, as Assimp parses it
            good = ParseReal(token_, v);
            value = v;
        } else if (type == Type::Float64) {
            good = ParseReal(token_, value);
        } else {
            int64_t v = 0;
            good = ParseNumber(token_, v);
            value = double(v);
        }
        bad_ = !good;
        return good;
    }

    ByteStream& in_;
    Format format_;
    std::string token_;
    bool bad_ = false;
};

// The least a record of the element takes in the file: a list at least its count.
uint64_t LeastBytes(const Element& element, Format format) {
    uint64_t bytes = 0;
    for (const Property& property : element.properties)
        bytes += format == Format::Ascii ? 2 : SizeOf(property.list ? property.countType : property.type);
    return bytes;
}

// Assimp's scale of an integer colour to [0, 1]; the other integer types stay with Assimp.
float Colour(double value, Type type) {
    if (type == Type::UInt8) return float(value) / 255.0f;
    if (type == Type::UInt16) return float(value) / 65535.0f;
    return float(value);
}

class PlyRead {
public:
    PlyRead(ByteStream& in, OwnScene& out, std::string& error) : in_(in), out_(out), error_(error) {}

    OwnRead Run() {
        OwnRead header = Header();
        if (header != OwnRead::Read) return header;
        Values values(in_, format_);
        for (const Element& element : elements_) {
            OwnRead read = &element == vertex_ ? Vertices(values) : &element == face_ ? Faces(values) : Skip(element, values);
            if (read != OwnRead::Read) return read;
            if (&element == face_) break;  // all that the mesh takes is read
        }
        Finish();
        return OwnRead::Read;
    }

private:
    OwnRead Header() {
        std::vector<std::string> words;
        if (!HeaderLine(in_, words) || words.size() != 1 || (words[0] != "ply" && words[0] != "PLY"))
            return OwnRead::NotMine;
        bool formatSeen = false;
        for (;;) {
            if (!HeaderLine(in_, words)) return OwnRead::NotMine;
            if (words.empty()) continue;
            const std::string& key = words[0];
            if (key == "end_header") break;
            if (key == "format" && words.size() >= 2) {
                formatSeen = true;
                if (words[1] == "ascii")
                    format_ = Format::Ascii;
                else if (words[1] == "binary_little_endian")
                    format_ = Format::LittleEndian;
                else if (words[1] == "binary_big_endian")
                    format_ = Format::BigEndian;
                else
                    return OwnRead::NotMine;
            } else if (key == "comment") {
                if (words.size() >= 2 && words[1] == "TextureFile") return OwnRead::NotMine;
            } else if (key == "element") {
                Element element;
                if (words.size() != 3 || !ParseNumber(words[2], element.count)) return OwnRead::NotMine;
                element.name = words[1];
                elements_.push_back(std::move(element));
            } else if (key == "property") {
                if (elements_.empty()) return OwnRead::NotMine;
                Property property;
                bool list = words.size() == 5 && words[1] == "list";
                if (list ? !(ParseType(words[2], property.countType) && ParseType(words[3], property.type))
                         : !(words.size() == 3 && ParseType(words[1], property.type)))
                    return OwnRead::NotMine;
                property.list = list;
                property.name = words.back();
                elements_.back().properties.push_back(std::move(property));
            }
            // Other lines (obj_info) Assimp passes over too.
        }
        if (!formatSeen) return OwnRead::NotMine;
        return Layout();
    }

    // The vertex and face elements found and checked, and every count against the file.
    OwnRead Layout() {
        for (Element& element : elements_) {
            if (element.name == "material" || element.name == "tristrips" || element.name == "TextureFile")
                return OwnRead::NotMine;
            if (element.name == "vertex") {
                if (vertex_) return OwnRead::NotMine;
                vertex_ = &element;
                for (Property& property : element.properties) {
                    if (property.list) continue;
                    property.role = VertexRole(property.name);
                    bool colour = property.role >= kRed && property.role <= kAlpha;
                    if (colour && !(IsFloat(property.type) || property.type == Type::UInt8 || property.type == Type::UInt16))
                        return OwnRead::NotMine;
                    if (property.role != kNone) used_[property.role] = true;
                }
            } else if (element.name == "face") {
                if (face_ || !vertex_) return OwnRead::NotMine;
                face_ = &element;
                for (Property& property : element.properties) {
                    if (!property.list) continue;
                    if (property.name == "texcoord") return OwnRead::NotMine;
                    if (property.name == "vertex_indices" || property.name == "vertex_index") {
                        if (IsFloat(property.type) || IsFloat(property.countType)) return OwnRead::NotMine;
                        property.cornerList = true;
                        cornerLists_++;
                    }
                }
            }
        }
        // Without faces the file is a point cloud, drawn as points through Assimp's reading.
        if (!vertex_ || !face_ || face_->count == 0 || cornerLists_ == 0 || std::none_of(used_, used_ + kRoles, [](bool u) { return u; }))
            return OwnRead::NotMine;
        uint64_t left = in_.Left(), least = 0;
        for (const Element& element : elements_) {
            uint64_t each = std::max<uint64_t>(1, LeastBytes(element, format_));
            if (element.count > (left - least + 1) / each) {
                error_ = "its PLY header declares " + std::to_string(element.count) + " '" + element.name +
                         "' elements, more than its " + std::to_string(left) + " bytes of data can hold";
                return OwnRead::Refused;
            }
            least += element.count * each;
            if (&element == face_) break;
        }
        if (vertex_->count > UINT32_MAX) {
            error_ = "its PLY header declares " + std::to_string(vertex_->count) + " vertices, more than a mesh holds";
            return OwnRead::Refused;
        }
        return OwnRead::Read;
    }

    OwnRead Ended(const Element& element, uint64_t at, const Values& values) {
        if (values.Bad())
            error_ = "its PLY data holds '" + values.Token().substr(0, 32) + "' where a number of '" + element.name +
                     "' " + std::to_string(at) + " belongs";
        else
            error_ = "its PLY data ends in '" + element.name + "' " + std::to_string(at) + " of " +
                     std::to_string(element.count);
        return OwnRead::Refused;
    }

    // A list's length, checked against what it can hold.
    bool ListLength(const Property& property, Values& values, uint64_t& length) {
        double count = 0;
        if (!values.Read(property.countType, count)) return false;
        if (count < 0) {
            negativeList_ = true;
            return false;
        }
        length = uint64_t(count);
        return true;
    }

    OwnRead Skip(const Element& element, Values& values) {
        bool fixed = format_ != Format::Ascii &&
                     std::none_of(element.properties.begin(), element.properties.end(), [](const Property& p) { return p.list; });
        if (fixed) {  // passed over a buffer at a time
            uint64_t bytes = element.count * LeastBytes(element, format_);
            while (bytes > 0) {
                size_t step = size_t(std::min<uint64_t>(bytes, ByteStream::kCapacity));
                if (!in_.Need(step)) return Ended(element, element.count, values);
                in_.Skip(step);
                bytes -= step;
            }
            return OwnRead::Read;
        }
        double value = 0;
        for (uint64_t i = 0; i < element.count; ++i)
            for (const Property& property : element.properties) {
                uint64_t length = 1;
                if (property.list && !ListLength(property, values, length)) return ListEnded(element, i, values);
                for (uint64_t k = 0; k < length; ++k)
                    if (!values.Read(property.type, value)) return Ended(element, i, values);
            }
        return OwnRead::Read;
    }

    OwnRead ListEnded(const Element& element, uint64_t at, const Values& values) {
        if (!negativeList_) return Ended(element, at, values);
        error_ = "its PLY data gives '" + element.name + "' " + std::to_string(at) + " a list of negative length";
        return OwnRead::Refused;
    }

    OwnRead Vertices(Values& values) {
        const uint32_t count = uint32_t(vertex_->count);
        mesh_ = new aiMesh();
        meshes_ = new aiMesh*[1]{mesh_};  // the scene owns the mesh from here on, read or not
        out_.Scene().mMeshes = meshes_;
        out_.Scene().mNumMeshes = 1;
        mesh_->mNumVertices = count;
        mesh_->mVertices = new aiVector3D[count];
        if (used_[kNx] || used_[kNy] || used_[kNz]) mesh_->mNormals = new aiVector3D[count];
        bool colours = used_[kRed] || used_[kGreen] || used_[kBlue] || used_[kAlpha];
        if (colours) mesh_->mColors[0] = new aiColor4D[count];
        if (used_[kU] || used_[kV]) {
            mesh_->mTextureCoords[0] = new aiVector3D[count];
            mesh_->mNumUVComponents[0] = 2;
        }
        float slot[kRoles];
        for (uint32_t v = 0; v < count; ++v) {
            std::fill(slot, slot + kRoles, 0.0f);
            slot[kAlpha] = 1.0f;
            for (const Property& property : vertex_->properties) {
                uint64_t length = 1;
                if (property.list && !ListLength(property, values, length)) return ListEnded(*vertex_, v, values);
                double value = 0;
                for (uint64_t k = 0; k < length; ++k)
                    if (!values.Read(property.type, value)) return Ended(*vertex_, v, values);
                if (property.role == kNone) continue;
                slot[property.role] = property.role >= kRed && property.role <= kAlpha ? Colour(value, property.type)
                                                                                      : float(value);
            }
            mesh_->mVertices[v] = aiVector3D(slot[kX], slot[kY], slot[kZ]);
            if (mesh_->mNormals) mesh_->mNormals[v] = aiVector3D(slot[kNx], slot[kNy], slot[kNz]);
            if (colours) mesh_->mColors[0][v] = aiColor4D(slot[kRed], slot[kGreen], slot[kBlue], slot[kAlpha]);
            if (mesh_->mTextureCoords[0]) mesh_->mTextureCoords[0][v] = aiVector3D(slot[kU], slot[kV], 0.0f);
        }
        return OwnRead::Read;
    }

    OwnRead Faces(Values& values) {
        const Element& face = *face_;
        const uint32_t vertices = mesh_->mNumVertices;
        // Room for a triangle per face, as far as the file can hold them: the block grows
        // only for polygons that are there.
        uint64_t triangleBytes = 0;
        for (const Property& property : face.properties)
            triangleBytes += format_ == Format::Ascii ? (property.cornerList ? 8 : 2)
                                                      : SizeOf(property.list ? property.countType : property.type) +
                                                            (property.cornerList ? 3 * SizeOf(property.type) : 0);
        out_.indices.reserve(size_t(3 * std::min(face.count, in_.Left() / std::max<uint64_t>(1, triangleBytes) + 1)));
        std::vector<unsigned> corners;
        for (uint64_t f = 0; f < face.count; ++f) {
            bool taken = false;
            for (const Property& property : face.properties) {
                uint64_t length = 1;
                if (property.list && !ListLength(property, values, length)) return ListEnded(face, f, values);
                bool take = property.cornerList && !taken;  // Assimp takes the first such list
                corners.clear();
                double value = 0;
                for (uint64_t k = 0; k < length; ++k) {
                    if (!values.Read(property.type, value)) return Ended(face, f, values);
                    if (!take) continue;
                    if (!(value >= 0 && value < vertices)) {
                        error_ = "its PLY face " + std::to_string(f) + " names vertex " + std::to_string(int64_t(value)) +
                                 " of " + std::to_string(vertices);
                        return OwnRead::Refused;
                    }
                    corners.push_back(unsigned(value));
                }
                if (!take) continue;
                taken = true;
                // Points and lines stand apart in Assimp's reading, which the conversion draws;
                // a polygon of five corners or more Assimp cuts by its outline, concave or not.
                if (corners.size() < 3 || corners.size() > 4) return OwnRead::NotMine;
                if (corners.size() == 4) std::rotate(corners.begin(), corners.begin() + ConcaveCorner(corners), corners.end());
                if (out_.indices.size() >= size_t(3) * (UINT32_MAX - 1)) {
                    error_ = "its PLY faces make more triangles than a mesh holds";
                    return OwnRead::Refused;
                }
                for (size_t k = 1; k + 1 < corners.size(); ++k)
                    out_.indices.insert(out_.indices.end(), {corners[0], corners[k], corners[k + 1]});
            }
        }
        return OwnRead::Read;
    }

    // The corner of a quad whose inner angle is over 180 degrees (a quad has one at most),
    // else 0: the fan starts there, so that neither triangle covers the notch. Worked out in
    // floats as Assimp's triangulation does, so that a quad splits as it did.
    unsigned ConcaveCorner(const std::vector<unsigned>& quad) const {
        const aiVector3D* p = mesh_->mVertices;
        for (unsigned i = 0; i < 4; ++i) {
            const aiVector3D& v = p[quad[i]];
            aiVector3D left = p[quad[(i + 3) % 4]] - v, diagonal = p[quad[(i + 2) % 4]] - v, right = p[quad[(i + 1) % 4]] - v;
            left.Normalize();
            diagonal.Normalize();
            right.Normalize();
            if (std::acos(left * diagonal) + std::acos(right * diagonal) > AI_MATH_PI_F) return i;
        }
        return 0;
    }

    void Finish() {
        aiScene& scene = out_.Scene();
        out_.indices.shrink_to_fit();
        out_.MakeTriangles(*mesh_, 0, unsigned(out_.indices.size() / 3));
        mesh_->mMaterialIndex = 0;
        scene.mNumMaterials = 1;
        scene.mMaterials = new aiMaterial*[1]{PlyDefaultMaterial()};
        scene.mRootNode = new aiNode();
        scene.mRootNode->mNumMeshes = 1;
        scene.mRootNode->mMeshes = new unsigned[1]{0};
    }

    ByteStream& in_;
    OwnScene& out_;
    std::string& error_;
    Format format_ = Format::Ascii;
    std::vector<Element> elements_;
    const Element* vertex_ = nullptr;
    const Element* face_ = nullptr;
    unsigned cornerLists_ = 0;
    bool used_[kRoles] = {};
    bool negativeList_ = false;
    aiMesh* mesh_ = nullptr;
    aiMesh** meshes_ = nullptr;
};

}  // namespace

OwnRead ReadPly(FILE* file, uint64_t bytes, OwnScene& out, std::string& error) {
    ByteStream in(file, bytes);
    return PlyRead(in, out, error).Run();
}

}  // namespace srxconvert
