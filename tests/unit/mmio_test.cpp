#include <cstdio>
#include <string>
#include <vector>

#include "helpers/TestSupport.h"
#include "platform/mmio/Mmio.h"

using namespace korrin::platform;
using korrin::test::ReadFile;
using korrin::test::TempDir;
using korrin::test::WriteFile;

namespace {

std::string Le32(DWORD v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string Chunk(const std::string& id, const std::string& body) {
    std::string s = id + Le32(static_cast<DWORD>(body.size())) + body;
    if (body.size() & 1)
        s += '\0';
    return s;
}

}  // namespace

TEST(MmioChunks, CreatedChunksGetTheirSizesAndOddPadding) {
    TempDir dir;
    const std::string path = dir.file("a.wav");
    HMMIO h = mmioOpen(path, MMIO_CREATE | MMIO_WRITE | MMIO_EXCLUSIVE | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff;
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    MMCKINFO ck;
    ck.ckid = mmioFOURCC('a', 'b', 'c', 'd');
    ASSERT_EQ(mmioCreateChunk(h, &ck, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioWrite(h, "xyz", 3), 3);
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, 3u);
    MMCKINFO data;
    data.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &data, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(h, &riff, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioClose(h), MMSYSERR_NOERROR);

    const std::string expected =
        "RIFF" + Le32(4 + 12 + 8) + "WAVE" + Chunk("abcd", "xyz") + Chunk("data", "");
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(MmioChunks, DescendFindsByIdTypeAndStopsAtTheParentEnd) {
    TempDir dir;
    const std::string path = dir.file("b.wav");
    const std::string body =
        "WAVE" + Chunk("LIST", "INFOab") + Chunk("fmt ", "12345") + Chunk("data", "PCMPCM");
    WriteFile(path, Chunk("JUNK", "x") + Chunk("RIFF", body) + Chunk("tail", "zz"));

    HMMIO h = mmioOpen(path, MMIO_READ | MMIO_ALLOCBUF);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff;
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.dwDataOffset, 10u + 8u);
    EXPECT_EQ(riff.cksize, body.size());

    MMCKINFO ck;
    ck.ckid = mmioFOURCC('d', 'a', 't', 'a');
    ASSERT_EQ(mmioDescend(h, &ck, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(ck.cksize, 6u);
    char pcm[6];
    ASSERT_EQ(mmioRead(h, pcm, 6), 6);
    EXPECT_EQ(std::string(pcm, 6), "PCMPCM");
    ASSERT_EQ(mmioAscend(h, &ck, 0), MMSYSERR_NOERROR);
    // "tail" lies outside the RIFF chunk: the walk must not reach it.
    MMCKINFO next;
    EXPECT_EQ(mmioDescend(h, &next, &riff, 0), MMIOERR_CHUNKNOTFOUND);

    // Walking in order, the odd-sized fmt chunk's pad byte is skipped.
    ASSERT_EQ(mmioSeek(h, static_cast<long>(riff.dwDataOffset) + 4, SEEK_SET),
              long(riff.dwDataOffset) + 4);
    std::vector<std::string> ids;
    while (mmioDescend(h, &next, &riff, 0) == MMSYSERR_NOERROR) {
        ids.push_back(std::string(reinterpret_cast<const char*>(&next.ckid), 4));
        ASSERT_EQ(mmioAscend(h, &next, 0), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"LIST", "fmt ", "data"}));
    EXPECT_EQ(mmioClose(h), MMSYSERR_NOERROR);
}

TEST(MmioChunks, TruncatedHeadersAndMissingChunksAreNotFound) {
    TempDir dir;
    const std::string path = dir.file("c.wav");
    WriteFile(path, "RIFF\x10\x00");
    HMMIO h = mmioOpen(path, MMIO_READ);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff;
    riff.fccType = mmioFOURCC('W', 'A', 'V', 'E');
    EXPECT_EQ(mmioDescend(h, &riff, nullptr, MMIO_FINDRIFF), MMIOERR_CHUNKNOTFOUND);
    mmioClose(h);
    EXPECT_EQ(mmioOpen(dir.file("missing.wav"), MMIO_READ), nullptr);
}

TEST(MmioBuffering, SmallAndLargeReadsAndWritesAcrossSeeks) {
    TempDir dir;
    const std::string path = dir.file("d.bin");
    std::string pattern(300000, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<char>(i * 7 + i / 251);
    HMMIO h = mmioOpen(path, MMIO_CREATE | MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    // Many small writes, then one larger than the buffer.
    for (std::size_t i = 0; i < 100000; i += 10)
        ASSERT_EQ(mmioWrite(h, pattern.data() + i, 10), 10);
    ASSERT_EQ(mmioWrite(h, pattern.data() + 100000, 200000), 200000);
    // Overwrite a few bytes in the middle and read them back before any flush.
    ASSERT_EQ(mmioSeek(h, 5, SEEK_SET), 5);
    ASSERT_EQ(mmioWrite(h, "HELLO", 5), 5);
    pattern.replace(5, 5, "HELLO");
    ASSERT_EQ(mmioSeek(h, 0, SEEK_END), 300000);
    ASSERT_EQ(mmioSeek(h, -300000, SEEK_CUR), 0);
    std::string back(300000, '\0');
    long got = 0;
    for (long step : {3L, 70000L, 1L, 229996L})
        got += mmioRead(h, back.data() + got, step);
    EXPECT_EQ(got, 300000);
    EXPECT_EQ(back, pattern);
    char extra;
    EXPECT_EQ(mmioRead(h, &extra, 1), 0);
    ASSERT_EQ(mmioClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(ReadFile(path), pattern);
}

TEST(MmioSharing, AFileBeingReadCannotBeCreatedOverItself) {
    TempDir dir;
    const std::string path = dir.file("e.wav");
    WriteFile(path, "keep me");
    HMMIO reader = mmioOpen(path, MMIO_READ | MMIO_DENYWRITE);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(mmioOpen(path, MMIO_CREATE | MMIO_WRITE | MMIO_EXCLUSIVE), nullptr);
    EXPECT_EQ(ReadFile(path), "keep me");
    // Writing through a read-only handle fails.
    EXPECT_EQ(mmioWrite(reader, "x", 1), -1);
    mmioClose(reader);
    HMMIO writer = mmioOpen(path, MMIO_CREATE | MMIO_WRITE | MMIO_EXCLUSIVE);
    ASSERT_NE(writer, nullptr);
    char c;
    EXPECT_EQ(mmioRead(writer, &c, 1), -1);
    mmioClose(writer);
    EXPECT_EQ(ReadFile(path), "");
}
