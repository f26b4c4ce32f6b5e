#vertexshader
float4 main(float4 p:POSITION):POSITION{return p;}
#pixelshader
#define A 1
float4 main():COLOR{return A;}
