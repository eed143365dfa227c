#pragma once
#include <vector>

#include "sample/texture.h"

enum class Shape { Everywhere, Box, Ellipse };

// One object of the scene, placed in the middle camera's image. Its depth may
// change from its top row to its bottom row (a slanted board), never along a row,
// so each row of it moves rigidly between the views.
struct Layer {
    Shape shape = Shape::Everywhere;
    int centreX = 0, centreY = 0, halfWidth = 0, halfHeight = 0;
    int depthTop = 0, depthBottom = 0; // 8-bit depth values, 255 = near
    Texture texture;
};

bool covers(const Layer& layer, int x, int y);
int depthAt(const Layer& layer, int y);

// Background first, then objects from far to near, at the given frame.
std::vector<Layer> sceneLayers(int width, int height, unsigned seed, int frame);
