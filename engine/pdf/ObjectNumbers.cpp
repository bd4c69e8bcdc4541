#include "engine/pdf/ObjectNumbers.h"

namespace quorvex {

DocumentObjectNumbers DocumentObjectNumbers::allocate(
    uint32_t pageCount, const std::function<uint32_t(uint32_t)>& extrasOf) {
    DocumentObjectNumbers numbers;
    uint64_t last = 0;
    const auto next = [&last] { return ++last; };
    numbers.info = next();
    numbers.catalog = next();
    numbers.pages = next();
    numbers.pageObjects.reserve(pageCount);
    for (uint32_t p = 0; p < pageCount; ++p) {
        PageObjects& page = numbers.pageObjects.emplace_back();
        page.page = next();
        page.contents = next();
        page.procSet = next();
        page.image = next();
        page.length = next();
        const uint32_t extras = extrasOf ? extrasOf(p) : 0;
        for (uint32_t e = 0; e < extras; ++e)
            page.extras.push_back(next());
    }
    numbers.count = last;
    return numbers;
}

}  // namespace quorvex
