// Object transforms: scale, then rotate about x, y and z in that order, then
// translate. Arithmetic is done in double so large scene coordinates keep
// their float precision after the round trip.
#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "mesh.h"

namespace host {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec3d {
  double x, y, z;
};

// Cosine and sine of an angle in degrees, exact for multiples of 90 so that
// quarter turns (the common case for building units) keep coordinates exact.
void CosSin(double deg, double& c, double& s) {
  const double quarter = deg / 90.0;
  if (quarter == std::floor(quarter) && std::fabs(quarter) < 1e9) {
    static const double kCos[4] = {1, 0, -1, 0}, kSin[4] = {0, 1, 0, -1};
    const long long q = static_cast<long long>(quarter);
    const int k = static_cast<int>(((q % 4) + 4) % 4);
    c = kCos[k];
    s = kSin[k];
    return;
  }
  const double a = deg * kPi / 180.0;
  c = std::cos(a);
  s = std::sin(a);
}

Vec3d RotateX(Vec3d v, double deg) {
  double c, s;
  CosSin(deg, c, s);
  return {v.x, v.y * c - v.z * s, v.y * s + v.z * c};
}

Vec3d RotateY(Vec3d v, double deg) {
  double c, s;
  CosSin(deg, c, s);
  return {v.x * c + v.z * s, v.y, -v.x * s + v.z * c};
}

Vec3d RotateZ(Vec3d v, double deg) {
  double c, s;
  CosSin(deg, c, s);
  return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}

// R = Rz * Ry * Rx; zero angles are skipped so axis-aligned transforms stay
// exact.
Vec3d Rotate(const double rot[3], Vec3d v) {
  if (rot[0] != 0.0) v = RotateX(v, rot[0]);
  if (rot[1] != 0.0) v = RotateY(v, rot[1]);
  if (rot[2] != 0.0) v = RotateZ(v, rot[2]);
  return v;
}

// Beyond the float range a coordinate becomes an infinity, said explicitly:
// a plain conversion of such a double is undefined.
float ToFloat(double v) {
  if (v > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (v < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(v);
}

Vec3 ToFloat(Vec3d v) { return {ToFloat(v.x), ToFloat(v.y), ToFloat(v.z)}; }

}  // namespace

bool Transform::IsFinite() const {
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(pos[i]) || !std::isfinite(rot[i]) || !std::isfinite(scl[i])) return false;
  return true;
}

double* Transform::Parameter(const std::string& lowerName) {
  return const_cast<double*>(static_cast<const Transform&>(*this).Parameter(lowerName));
}

const double* Transform::Parameter(const std::string& lowerName) const {
  static const char* const kNames[] = {"posx", "posy", "posz", "rotx", "roty",
                                       "rotz", "sclx", "scly", "sclz"};
  const double* arrays[] = {pos, rot, scl};
  for (int i = 0; i < 9; ++i)
    if (lowerName == kNames[i]) return &arrays[i / 3][i % 3];
  return nullptr;
}

bool Transform::KeepsFinite(Vec3 lo, Vec3 hi) const {
  if (!IsFinite()) return false;
  // World coordinates are linear in the local ones, so the largest lie at
  // corners of the local box.
  for (int corner = 0; corner < 8; ++corner) {
    const Vec3d p{corner & 1 ? hi.x : lo.x, corner & 2 ? hi.y : lo.y, corner & 4 ? hi.z : lo.z};
    const Vec3d r = Rotate(rot, {p.x * scl[0], p.y * scl[1], p.z * scl[2]});
    for (double c : {r.x + pos[0], r.y + pos[1], r.z + pos[2]})
      if (!(std::fabs(c) <= FLT_MAX)) return false;
  }
  return true;
}

bool Transform::IsIdentity() const {
  for (int i = 0; i < 3; ++i) {
    if (pos[i] != 0.0 || rot[i] != 0.0 || scl[i] != 1.0) return false;
  }
  return true;
}

Vec3 Transform::ApplyPoint(Vec3 p) const {
  const Vec3d scaled{p.x * scl[0], p.y * scl[1], p.z * scl[2]};
  const Vec3d r = Rotate(rot, scaled);
  return ToFloat({r.x + pos[0], r.y + pos[1], r.z + pos[2]});
}

Vec3 Transform::ApplyNormal(Vec3 n) const {
  // Inverse transpose of the scale, written as |det| * S^-T (the cofactors)
  // so a zero scale factor still gives a usable direction.
  const double sx = scl[0], sy = scl[1], sz = scl[2];
  const double sign = (sx * sy * sz) < 0.0 ? -1.0 : 1.0;
  const Vec3d scaled{n.x * sy * sz * sign, n.y * sx * sz * sign, n.z * sx * sy * sign};
  Vec3d r = Rotate(rot, scaled);
  double len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
  if (len == 0.0) {
    r = Rotate(rot, {n.x, n.y, n.z});
    len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    if (len == 0.0) return n;
  }
  return ToFloat({r.x / len, r.y / len, r.z / len});
}

}  // namespace host
