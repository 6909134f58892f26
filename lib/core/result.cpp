#include "core/result.h"

const char* GetResultText(ResultCode code) {
    static const char* const kTexts[] = {
        "未対応の機能を利用しようとしました。",
        "関数は成功しました。",
        "一般的なエラーが発生しました。",
        "処理が中断されました。",
        "不正なパラメータが指定されました。",
        "関数はタイムアウトしました。",
        "処理がペンディング状態です。",
        "処理は継続中です。",
    };
    if (code >= -1 && code <= 6) return kTexts[code + 1];
    if ((static_cast<uintptr_t>(code) >> 16) != 0) return reinterpret_cast<const char*>(code);
    return "未知のエラーコードです。";
}
