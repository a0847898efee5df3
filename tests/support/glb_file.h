// ReadGlb: a binary glTF file read back with tinygltf, the independent
// reader the tests check the host's writer against. A file tinygltf refuses
// fails the calling test and gives an empty model.
#pragma once

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <string>

namespace testsupport {

inline tinygltf::Model ReadGlb(const std::string& path) {
  tinygltf::TinyGLTF loader;
  tinygltf::Model model;
  std::string err, warn;
  if (!loader.LoadBinaryFromFile(&model, &err, &warn, path)) {
    ADD_FAILURE() << "tinygltf cannot read " << path << ": " << err;
    return tinygltf::Model();
  }
  return model;
}

}  // namespace testsupport
