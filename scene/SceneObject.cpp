#include "scene/SceneObject.h"

SceneObject::SceneObject(std::string objectName) : name(std::move(objectName)) { D3DXMatrixIdentity(&world); }
