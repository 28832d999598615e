#include "util/result_codes.h"

namespace {

struct ResultText {
    int32_t code;
    const char* text;
};

constexpr ResultText kResultTexts[] = {
    {kResultTimedOut, "Operation timed out"},
    {kResultTransferError, "Transfer error"},
    {kResultDataNotMatch, "Data not match"},
    {kResultInvalidParameter, "Invalid parameter"},
    {kResultInsufficientMemory, "Insufficient memory"},
    {kResultEntityNotFound, "Entity not found"},
};

}  // namespace

std::string GetResultString(int32_t code) {
    for (const ResultText& entry : kResultTexts) {
        if (entry.code == code) return entry.text;
    }
    return "Unknown error";
}
