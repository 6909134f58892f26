// The files the repair restores: the same relative name is the entry path in
// the archive and the path below the installation directory.
#include "repair.h"

const char RepairFileTable[kFileTableSlots][kFileTableSlotSize] = {
    "pro.exe",
    "chara.exe",
    "org.exe",
    "readme.txt",
    "engine.dll",
    "config.dat",
    "CG\\cg_pack.dat",
    "WAV\\bgm_title.wav",
    "WAV\\bgm_town.wav",
    "WAV\\bgm_night.wav",
    "WAV\\bgm_sea.wav",
    "WAV\\bgm_ending.wav",
#define SE(n) "WAV\\se_" #n ".wav",
    SE(01) SE(02) SE(03) SE(04) SE(05) SE(06) SE(07) SE(08) SE(09) SE(10)
    SE(11) SE(12) SE(13) SE(14) SE(15) SE(16) SE(17) SE(18) SE(19) SE(20)
    SE(21) SE(22) SE(23) SE(24) SE(25) SE(26) SE(27) SE(28) SE(29) SE(30)
    SE(31) SE(32)
#undef SE
#define SCN(a, b) "SCRIPT\\" #a "_" #b ".scn",
#define CHAPTER(a) SCN(a, 1) SCN(a, 2) SCN(a, 3) SCN(a, 4) SCN(a, 5) SCN(a, 6) SCN(a, 7) SCN(a, 8) SCN(a, 9) SCN(a, 10)
    CHAPTER(1_1) CHAPTER(1_2) CHAPTER(1_3) CHAPTER(1_4) CHAPTER(1_5)
    CHAPTER(2_1) CHAPTER(2_2) CHAPTER(2_3) CHAPTER(2_4) CHAPTER(2_5)
    CHAPTER(3_1) CHAPTER(3_2)
#undef CHAPTER
#undef SCN
    "SCRIPT\\1_5_22.scn",
    "SCRIPT\\system.scn",
    "SCRIPT\\ending.scn",
    "",
};
