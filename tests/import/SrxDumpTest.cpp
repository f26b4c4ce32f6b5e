// srxdump as a user runs it: output, summary and exit status.
#include "import/SrxTestSupport.h"
#include "import/SrxWriter.h"
#include "support/TempDir.h"
#include "tools/ToolRun.h"

#include <gtest/gtest.h>


#include <cstdio>
#include <string>

namespace {

// Runs srxdump with the arguments, capturing standard output (standard error is dropped).
lumaret::test::ToolRun SrxDump(const std::string& arguments) {
    return lumaret::test::RunCommand(lumaret::test::BuildDir() + "/tools/srxdump/srxdump " + arguments + " 2>/dev/null");
}

}  // namespace

TEST(SrxDump, PrintsTheImportLogThenASummary) {
    lumaret::test::ScopedTempDir dir;
    lumaret::test::WriteFileBytes("log.txt", "the caller's own log\n");
    SrxWriter writer;
    writer.Material(srxtest::Material("Stone", 0x0001, {"Stone.TGA"}));
    SrxNode node = srxtest::Node("Root", 0, 0);
    node.trackFlags = srx::TrackSampledTransform | srx::TrackKeyedScale;
    node.tracks[srx::SlotSampledTransform].kind = 2;
    node.tracks[srx::SlotSampledTransform].keys.resize(3);
    writer.Node(node);
    SrxMesh mesh;
    mesh.boneNodes = {0};
    mesh.boneMatrices.resize(1);
    mesh.primitives = {srxtest::Primitive(4, {0, 1, 2, 2, 1, 3}), srxtest::Primitive(3, {0, 1, 2})};
    writer.Mesh(mesh);
    lumaret::test::WriteFileBytes("scene.srx", std::string(writer.Data().begin(), writer.Data().end()));

    lumaret::test::ToolRun run = SrxDump("scene.srx");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output.rfind("Material: stone\nMap 0: stone.tga\n* NODE: Root Id: 0 Parent: 0\n", 0), 0u);
    EXPECT_NE(run.output.find("-- summary\nmaterials: 1\nnodes: 1\ntracks: 2\nkeys: 3\ncameras: 0\nlights: 0\n"
                              "meshes: 1\nprimitives: 2\nvertices: 7\ntriangles: 3\nbones: 1\n"),
              std::string::npos);
    EXPECT_EQ(lumaret::test::ReadFileBytes("log.txt"), "the caller's own log\n");

    lumaret::test::ToolRun summary = SrxDump("--summary scene.srx");
    EXPECT_EQ(summary.output.rfind("materials: 1\n", 0), 0u);
}

TEST(SrxDump, ExitStatusTellsWhatWentWrong) {
    lumaret::test::ScopedTempDir dir;
    EXPECT_EQ(SrxDump("--help").status, 0);
    EXPECT_EQ(SrxDump("").status, 1);
    EXPECT_EQ(SrxDump("--bogus x.srx").status, 1);
    EXPECT_EQ(SrxDump("missing.srx").status, 2);

    SrxWriter writer;
    writer.MeshHeader(0, 1);
    lumaret::test::WriteFileBytes("fatal.srx", std::string(writer.Data().begin(), writer.Data().end()));
    lumaret::test::ToolRun fatal = SrxDump("fatal.srx");
    EXPECT_EQ(fatal.status, 3);
    EXPECT_NE(fatal.output.find("meshes: 1\nprimitives: 0\n"), std::string::npos);

    lumaret::test::WriteFileBytes("empty.srx", "");
    EXPECT_EQ(SrxDump("empty.srx").status, 0);
    EXPECT_EQ(SrxDump("empty.srx missing.srx").status, 2);
}
