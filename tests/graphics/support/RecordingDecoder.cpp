#include "tests/graphics/support/RecordingDecoder.h"

#include <GL/gl.h>

#include <cstring>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "graphics/ZavOpenGL.h"
#include "tests/graphics/support/GLNames.h"

namespace {

constexpr size_t kMaxBytesShown = 64;

// Argument kinds of a record: i integer, e enumeration, E integer that
// carries an enumeration, P primitive mode, x hexadecimal integer, L list
// name, b byte, f float, d double, s string; "[...]" groups an array.
struct RecordShape {
  uint16_t Opcode;
  const char* Name;
  const char* Arguments;
};

// "[kk...k]": an array of count arguments of one kind.
std::string ArrayShape(size_t count, char kind) {
  std::string shape(count + 2, kind);
  shape.front() = '[';
  shape.back() = ']';
  return shape;
}

const std::string kMatrix = ArrayShape(16, 'f');
const std::string kStipple = ArrayShape(32, 'x');

const RecordShape kShapes[] = {
    {1, "glBegin", "P"},
    {2, "glEnd", ""},
    {3, "glEnable", "e"},
    {4, "glDisable", "e"},
    {5, "glTranslatef", "fff"},
    {6, "glScalef", "fff"},
    {7, "glRotatef", "ffff"},
    {8, "glVertex3f", "fff"},
    {9, "glTexCoord2f", "ff"},
    {10, "glTexParameteri", "eeE"},
    {11, "glBlendFunc", "ee"},
    {12, "glPushMatrix", ""},
    {13, "glPopMatrix", ""},
    {14, "glColor3ub", "bbb"},
    {15, "glColor4ub", "bbbb"},
    {16, "glShadeModel", "e"},
    {17, "glFlush", ""},
    {18, "glColorMaterial", "ee"},
    {19, "glEdgeFlag", "i"},
    {20, "glCullFace", "e"},
    {21, "glDepthFunc", "e"},
    {22, "glLineWidth", "f"},
    {23, "glNormal3f", "fff"},
    {24, "glMatrixMode", "e"},
    {25, "glRasterPos3f", "fff"},
    {26, "glTexEnvf", "eef"},
    {27, "glPointSize", "f"},
    {28, "glFogi", "eE"},
    {29, "glLightModeli", "ei"},
    {30, "glPixelStorei", "ei"},
    {31, "glPolygonMode", "ee"},
    {32, "glEvalCoord2f", "ff"},
    {33, "glLineStipple", "ix"},
    {34, "glListBase", "L"},
    {35, "glDeleteLists", "Li"},
    {36, "glEvalMesh2", "eiiii"},
    {37, "glFogf", "ef"},
    {38, "glMapGrid2f", "iffiff"},
    {39, "glOrtho", "dddddd"},
    {40, "glViewport", "iiii"},
    {41, "glReadBuffer", "e"},
    {42, "glDrawBuffer", "e"},
    {43, "glCopyPixels", "iiiie"},
    {44, "glCallList", "L"},
    {45, "glEndList", ""},
    {46, "glNewList", "Le"},
    {47, "glClear", "x"},
    {48, "glClearColor", "ffff"},
    {49, "glClearDepth", "f"},
    {50, "gluPerspective", "dddd"},
    {51, "gluLookAt", "ddddddddd"},
    {52, "glLoadIdentity", ""},
    {53, "glClipPlane", "e[ffff]"},
    {54, "glMaterialf", "eef"},
    {55, "glMaterialfv", "ee[ffff]"},
    {56, "glFogfv", "e[ffff]"},
    {57, "glCallLists", nullptr},
    {58, "glMultMatrixf", kMatrix.c_str()},
    {59, "glPolygonStipple", kStipple.c_str()},
    {60, "glMap2f", nullptr},
    {61, "glTexImage2D", nullptr},
    {1000, "DrawSphereBands", "ifffff"},
    {1001, "CreateBitmapFontLists", "sibbL"},
};

const RecordShape* ShapeOf(uint16_t opcode) {
  for (const RecordShape& shape : kShapes)
    if (shape.Opcode == opcode) return &shape;
  return nullptr;
}

struct Truncated : std::runtime_error {
  Truncated() : std::runtime_error("truncated") {}
};

class Reader {
public:
  Reader(const std::vector<uint8_t>& bytes, const GoldenIds& ids) : bytes_(bytes), ids_(ids) {}

  size_t Offset() const { return offset_; }
  bool AtEnd() const { return offset_ >= bytes_.size(); }
  void Seek(size_t offset) { offset_ = offset; }

  uint8_t Byte() {
    Need(1);
    return bytes_[offset_++];
  }
  uint16_t U16() {
    Need(2);
    const uint16_t value = static_cast<uint16_t>(bytes_[offset_] | bytes_[offset_ + 1] << 8);
    offset_ += 2;
    return value;
  }
  uint32_t U32() {
    Need(4);
    uint32_t value = 0;
    for (int k = 3; k >= 0; --k) value = value << 8 | bytes_[offset_ + static_cast<size_t>(k)];
    offset_ += 4;
    return value;
  }
  int32_t Int() { return static_cast<int32_t>(U32()); }
  float Float() {
    const uint32_t bits = U32();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  double Double() {
    const uint64_t low = U32();
    const uint64_t bits = uint64_t{U32()} << 32 | low;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  std::string String() {
    const uint32_t length = U32();
    if (length == 0) return "<length 0>";
    Need(length);
    std::string text(reinterpret_cast<const char*>(bytes_.data() + offset_), length - 1);
    const bool terminated = bytes_[offset_ + length - 1] == 0;
    offset_ += length;
    return terminated ? text : text + "<no NUL>";
  }
  std::string ListName() {
    const uint32_t name = U32();
    for (const auto& [idName, identity] : ids_)
      if (identity == name) return "{id:" + idName + "}";
    return std::to_string(name);
  }
  std::string Bytes(size_t count) {
    Need(count);
    std::string text = "[";
    for (size_t k = 0; k < count && k < kMaxBytesShown; ++k) {
      if (k > 0) text += ' ';
      text += std::to_string(bytes_[offset_ + k]);
    }
    if (count > kMaxBytesShown) text += " ... " + std::to_string(count) + " bytes";
    offset_ += count;
    return text + "]";
  }

  // One argument of the given kind as text.
  std::string Argument(char kind) {
    switch (kind) {
      case 'i': return std::to_string(Int());
      case 'e': return GLEnumName(U32());
      case 'E': {
        const int32_t value = Int();
        return value >= 0x100 ? GLEnumName(static_cast<uint32_t>(value)) : std::to_string(value);
      }
      case 'P': return GLPrimitiveName(U32());
      case 'x': return HexText(U32());
      case 'L': return ListName();
      case 'b': return std::to_string(Byte());
      case 'f': return NumberText(Float());
      case 'd': return NumberText(Double());
      case 's': return String();
      default: return "?";
    }
  }

  // The arguments of a shape string, top-level ones separated by ", ",
  // array elements by blanks.
  std::string Arguments(std::string_view shape) {
    std::string text;
    bool inArray = false, first = true, firstInArray = true;
    for (char kind : shape) {
      if (kind == ']') {
        text += ']';
        inArray = false;
        continue;
      }
      if (inArray) {
        if (!firstInArray) text += ' ';
        firstInArray = false;
      } else {
        if (!first) text += ", ";
        first = false;
      }
      if (kind == '[') {
        text += '[';
        inArray = true;
        firstInArray = true;
        continue;
      }
      text += Argument(kind);
    }
    return text;
  }

private:
  void Need(size_t count) const {
    if (count > bytes_.size() - offset_) throw Truncated();
  }

  const std::vector<uint8_t>& bytes_;
  const GoldenIds& ids_;
  size_t offset_ = 0;
};

size_t CountOf(int64_t a, int64_t b = 1, int64_t c = 1) {
  return a > 0 && b > 0 && c > 0 ? static_cast<size_t>(a * b * c) : 0;
}

// "a, b, c".
std::string Join(std::initializer_list<std::string> parts) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += ", ";
    text += part;
  }
  return text;
}

std::string CallListsArguments(Reader& in) {
  const int32_t count = in.Int();
  const std::string type = GLEnumName(in.U32());
  return Join({std::to_string(count), type, in.Bytes(CountOf(count))});
}

std::string Map2Arguments(Reader& in) {
  const uint32_t target = in.U32();
  const float u1 = in.Float(), u2 = in.Float();
  const int32_t ustride = in.Int(), uorder = in.Int();
  const float v1 = in.Float(), v2 = in.Float();
  const int32_t vstride = in.Int(), vorder = in.Int();
  const size_t points = CountOf(uorder, vorder, GLMap2Components(target));
  return Join({GLEnumName(target), NumberText(u1), NumberText(u2), std::to_string(ustride), std::to_string(uorder),
               NumberText(v1), NumberText(v2), std::to_string(vstride), std::to_string(vorder),
               in.Arguments(ArrayShape(points, 'f'))});
}

std::string TexImageArguments(Reader& in) {
  const std::string head = in.Arguments("eiE");
  const int32_t width = in.Int();
  const int32_t height = in.Int();
  const std::string tail = in.Arguments("iee");
  return Join({head, std::to_string(width), std::to_string(height), tail, in.Bytes(CountOf(width, height, 4))});
}

std::string RecordText(Reader& in, const RecordShape& shape) {
  std::string arguments;
  switch (shape.Opcode) {
    case 57: arguments = CallListsArguments(in); break;
    case 60: arguments = Map2Arguments(in); break;
    case 61: arguments = TexImageArguments(in); break;
    default: arguments = in.Arguments(shape.Arguments); break;
  }
  return std::string(shape.Name) + "(" + arguments + ")";
}

}  // namespace

std::string RecordName(uint16_t opcode) {
  const RecordShape* shape = ShapeOf(opcode);
  return shape != nullptr ? shape->Name : "";
}

std::vector<DecodedRecord> DecodeRecording(const std::vector<uint8_t>& bytes, const GoldenIds& ids) {
  std::vector<DecodedRecord> records;
  Reader in(bytes, ids);
  while (!in.AtEnd()) {
    DecodedRecord record;
    record.Offset = in.Offset();
    uint16_t opcode = 0;
    try {
      opcode = in.U16();
      if (opcode == 0) {
        if (in.U16() != 0) {
          record.Text = "unknown opcode 0";
          record.Size = bytes.size() - record.Offset;
          records.push_back(record);
          break;
        }
        record.Text = "frame end";
      } else if (const RecordShape* shape = ShapeOf(opcode)) {
        record.Text = RecordText(in, *shape);
      } else {
        record.Text = "unknown opcode " + std::to_string(opcode);
        record.Size = bytes.size() - record.Offset;
        records.push_back(record);
        break;
      }
    } catch (const Truncated&) {
      const std::string name = opcode == 0 ? std::string("frame end") : RecordName(opcode);
      record.Text = "cut record " + (name.empty() ? std::to_string(opcode) : name) + " (" +
                    std::to_string(bytes.size() - record.Offset) + " bytes left)";
      record.Size = bytes.size() - record.Offset;
      records.push_back(record);
      break;
    }
    record.Size = in.Offset() - record.Offset;
    records.push_back(record);
  }
  return records;
}

std::string DecodedText(const std::vector<uint8_t>& bytes, const GoldenIds& ids, size_t mark) {
  std::string text;
  for (const DecodedRecord& record : DecodeRecording(bytes, ids)) {
    const bool marked = mark >= record.Offset && mark < record.Offset + record.Size;
    text += (marked ? ">> @" : "   @") + std::to_string(record.Offset) + " " + record.Text + "\n";
  }
  if (mark != SIZE_MAX && mark >= bytes.size()) text += ">> (ends here)\n";
  return text;
}
