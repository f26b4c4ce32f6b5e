#vertexshader
#define X
#pixelshader
