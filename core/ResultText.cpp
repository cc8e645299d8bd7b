#include "ResultText.h"

#include "ResultCodes.h"

const char* ResultText(int code)
{
    switch (code) {
    case IDS_SIZE_MISMATCH: return "２つのImageの幅または高さが異なります";
    case IDS_TOO_MANY_FILES: return "2個以上のファイルが選択されました";
    case IDS_UNSUPPORTED_FORMAT: return "24 bit color 非圧縮フォーマットのみサポートしています";
    case IDS_NOT_BITMAP: return "Bitmap ファイルではありません";
    case IDS_DROP_TWO_FILES: return "Drag & Drop では、2個のファイルを選択してください";
    case IDS_CANNOT_READ: return "ファイルを読み込めませんでした";
    case IDS_IMAGE_TOO_LARGE: return "画像が大きすぎます (幅と高さは 65535 ピクセルまでです)";
    case IDS_OUT_OF_MEMORY: return "メモリが不足しています";
    default: return nullptr;
    }
}
