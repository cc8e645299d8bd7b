#include "ResultText.h"

#include "ResultCodes.h"

const char* ResultText(int code)
{
    switch (code) {
#define RESULT_TEXT(id, text) \
    case id: return text;
#include "ResultTexts.inc"
#undef RESULT_TEXT
    default: return nullptr;
    }
}
