// File formats of the host, one header each: OBJ import (obj_reader.h),
// scene export to OBJ (obj_writer.h) and binary glTF (gltf_writer.h). Errors
// are returned as text that names the file and says what is wrong.
#pragma once

#include "gltf_writer.h"
#include "obj_reader.h"
#include "obj_writer.h"
