#include "tests/graphics/support/GLNames.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <unordered_map>

namespace {

#define ZAVTA_GL_NAME(value) {value, #value}

const std::unordered_map<uint32_t, const char*>& EnumNames() {
  static const std::unordered_map<uint32_t, const char*> names = {
      // capabilities
      ZAVTA_GL_NAME(GL_DEPTH_TEST), ZAVTA_GL_NAME(GL_TEXTURE_2D), ZAVTA_GL_NAME(GL_AUTO_NORMAL),
      ZAVTA_GL_NAME(GL_FOG), ZAVTA_GL_NAME(GL_POLYGON_STIPPLE), ZAVTA_GL_NAME(GL_POINT_SMOOTH),
      ZAVTA_GL_NAME(GL_NORMALIZE), ZAVTA_GL_NAME(GL_LINE_STIPPLE), ZAVTA_GL_NAME(GL_LINE_SMOOTH),
      ZAVTA_GL_NAME(GL_CULL_FACE), ZAVTA_GL_NAME(GL_COLOR_MATERIAL), ZAVTA_GL_NAME(GL_LIGHTING),
      ZAVTA_GL_NAME(GL_BLEND), ZAVTA_GL_NAME(GL_POLYGON_SMOOTH), ZAVTA_GL_NAME(GL_CLIP_PLANE0),
      ZAVTA_GL_NAME(GL_CLIP_PLANE1), ZAVTA_GL_NAME(GL_CLIP_PLANE2), ZAVTA_GL_NAME(GL_CLIP_PLANE3),
      ZAVTA_GL_NAME(GL_CLIP_PLANE4), ZAVTA_GL_NAME(GL_CLIP_PLANE5), ZAVTA_GL_NAME(GL_LIGHT0),
      ZAVTA_GL_NAME(GL_LIGHT1),
      // evaluator maps
      ZAVTA_GL_NAME(GL_MAP2_VERTEX_3), ZAVTA_GL_NAME(GL_MAP2_VERTEX_4), ZAVTA_GL_NAME(GL_MAP2_INDEX),
      ZAVTA_GL_NAME(GL_MAP2_COLOR_4), ZAVTA_GL_NAME(GL_MAP2_NORMAL), ZAVTA_GL_NAME(GL_MAP2_TEXTURE_COORD_1),
      ZAVTA_GL_NAME(GL_MAP2_TEXTURE_COORD_2), ZAVTA_GL_NAME(GL_MAP2_TEXTURE_COORD_3),
      ZAVTA_GL_NAME(GL_MAP2_TEXTURE_COORD_4),
      // faces, modes, functions
      ZAVTA_GL_NAME(GL_FRONT), ZAVTA_GL_NAME(GL_BACK), ZAVTA_GL_NAME(GL_FRONT_AND_BACK),
      ZAVTA_GL_NAME(GL_POINT), ZAVTA_GL_NAME(GL_LINE), ZAVTA_GL_NAME(GL_FILL), ZAVTA_GL_NAME(GL_FLAT),
      ZAVTA_GL_NAME(GL_SMOOTH), ZAVTA_GL_NAME(GL_LESS), ZAVTA_GL_NAME(GL_LEQUAL), ZAVTA_GL_NAME(GL_ALWAYS),
      ZAVTA_GL_NAME(GL_CW), ZAVTA_GL_NAME(GL_CCW), ZAVTA_GL_NAME(GL_SRC_ALPHA),
      ZAVTA_GL_NAME(GL_ONE_MINUS_SRC_ALPHA), ZAVTA_GL_NAME(GL_SRC_COLOR), ZAVTA_GL_NAME(GL_DST_ALPHA),
      // matrices, render modes, lists
      ZAVTA_GL_NAME(GL_MODELVIEW), ZAVTA_GL_NAME(GL_PROJECTION), ZAVTA_GL_NAME(GL_TEXTURE),
      ZAVTA_GL_NAME(GL_RENDER), ZAVTA_GL_NAME(GL_SELECT), ZAVTA_GL_NAME(GL_FEEDBACK),
      ZAVTA_GL_NAME(GL_COMPILE), ZAVTA_GL_NAME(GL_COMPILE_AND_EXECUTE), ZAVTA_GL_NAME(GL_MODELVIEW_MATRIX),
      ZAVTA_GL_NAME(GL_PROJECTION_MATRIX), ZAVTA_GL_NAME(GL_VIEWPORT), ZAVTA_GL_NAME(GL_MATRIX_MODE),
      ZAVTA_GL_NAME(GL_LIST_INDEX), ZAVTA_GL_NAME(GL_NAME_STACK_DEPTH), ZAVTA_GL_NAME(GL_RENDER_MODE),
      ZAVTA_GL_NAME(GL_MODELVIEW_STACK_DEPTH), ZAVTA_GL_NAME(GL_PROJECTION_STACK_DEPTH),
      // data types and formats
      ZAVTA_GL_NAME(GL_BYTE), ZAVTA_GL_NAME(GL_UNSIGNED_BYTE), ZAVTA_GL_NAME(GL_SHORT),
      ZAVTA_GL_NAME(GL_UNSIGNED_SHORT), ZAVTA_GL_NAME(GL_INT), ZAVTA_GL_NAME(GL_UNSIGNED_INT),
      ZAVTA_GL_NAME(GL_FLOAT), ZAVTA_GL_NAME(GL_RGB), ZAVTA_GL_NAME(GL_RGBA), ZAVTA_GL_NAME(GL_COLOR),
      ZAVTA_GL_NAME(GL_DEPTH), ZAVTA_GL_NAME(GL_UNPACK_ALIGNMENT), ZAVTA_GL_NAME(GL_PACK_ALIGNMENT),
      // textures
      ZAVTA_GL_NAME(GL_TEXTURE_WRAP_S), ZAVTA_GL_NAME(GL_TEXTURE_WRAP_T), ZAVTA_GL_NAME(GL_TEXTURE_MAG_FILTER),
      ZAVTA_GL_NAME(GL_TEXTURE_MIN_FILTER), ZAVTA_GL_NAME(GL_TEXTURE_ENV), ZAVTA_GL_NAME(GL_TEXTURE_ENV_MODE),
      ZAVTA_GL_NAME(GL_REPEAT), ZAVTA_GL_NAME(GL_CLAMP), ZAVTA_GL_NAME(GL_NEAREST), ZAVTA_GL_NAME(GL_LINEAR),
      ZAVTA_GL_NAME(GL_MODULATE), ZAVTA_GL_NAME(GL_DECAL),
      // lighting, materials and fog
      ZAVTA_GL_NAME(GL_LIGHT_MODEL_TWO_SIDE), ZAVTA_GL_NAME(GL_LIGHT_MODEL_AMBIENT), ZAVTA_GL_NAME(GL_AMBIENT),
      ZAVTA_GL_NAME(GL_DIFFUSE), ZAVTA_GL_NAME(GL_SPECULAR), ZAVTA_GL_NAME(GL_EMISSION),
      ZAVTA_GL_NAME(GL_SHININESS), ZAVTA_GL_NAME(GL_AMBIENT_AND_DIFFUSE), ZAVTA_GL_NAME(GL_POSITION),
      ZAVTA_GL_NAME(GL_FOG_MODE), ZAVTA_GL_NAME(GL_FOG_START), ZAVTA_GL_NAME(GL_FOG_END),
      ZAVTA_GL_NAME(GL_FOG_COLOR), ZAVTA_GL_NAME(GL_FOG_DENSITY), ZAVTA_GL_NAME(GL_EXP), ZAVTA_GL_NAME(GL_EXP2),
      // buffers
      ZAVTA_GL_NAME(GL_FRONT_LEFT), ZAVTA_GL_NAME(GL_BACK_LEFT),
  };
  return names;
}

#undef ZAVTA_GL_NAME

template <typename T>
std::string ShortestText(T value) {
  std::array<char, 64> buffer{};
  auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return ec == std::errc() ? std::string(buffer.data(), end) : std::string("?");
}

}  // namespace

std::string HexText(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%04X", static_cast<unsigned>(value));
  return buffer;
}

std::string GLEnumName(uint32_t value) {
  if (value >= 0x100) {
    auto found = EnumNames().find(value);
    if (found != EnumNames().end()) return found->second;
  }
  return HexText(value);
}

std::string GLPrimitiveName(uint32_t mode) {
  static constexpr const char* kNames[] = {"GL_POINTS",         "GL_LINES",        "GL_LINE_LOOP", "GL_LINE_STRIP",
                                           "GL_TRIANGLES",      "GL_TRIANGLE_STRIP", "GL_TRIANGLE_FAN",
                                           "GL_QUADS",          "GL_QUAD_STRIP",   "GL_POLYGON"};
  return mode < std::size(kNames) ? kNames[mode] : HexText(mode);
}

std::string NumberText(float value) { return ShortestText(value); }
std::string NumberText(double value) { return ShortestText(value); }
