// The skinning rule of every vertex program that draws skinned geometry (PassZN.hlsl,
// PassForward.hlsl and the material passes): the position and the normal moved by the
// weighted sum of the vertex's bones from the palette at c64, which the including program
// declares as matrixArray. A bone number beyond the palette reads its last matrix.
// `influences` is 4 for skinned vertices and 0 for unskinned ones: a loop count rather than
// a branch around the loop, so that a batch of unskinned vertices skips it.
void SkinVertex(float4 weights, float4 bones, int influences, float4 position, float3 normal,
                out float4 skinned, out float3 skinnedNormal)
{
    skinned = float4(0.0, 0.0, 0.0, 0.0);
    skinnedNormal = float3(0.0, 0.0, 0.0);
    for (int i = 0; i < influences; i++)
    {
        float4x4 bone = matrixArray[min((int)bones[i], 47)];
        skinned += weights[i] * mul(bone, position);
        skinnedNormal += weights[i] * mul(bone, float4(normal, 0.0)).xyz;
    }
}
