#pragma once
// Qualified function names ("tavrix::vfs::readFile") for log lines and reports, derived at compile time
// from the compiler's decorated signature.
#include <cstddef>

namespace tavrix::util {

template <std::size_t N>
struct funcName {
    char text[N]{};
};

constexpr bool endsWithOperator(const char* p, std::size_t end)
{
    constexpr const char word[] = "operator";
    constexpr std::size_t len = sizeof(word) - 1;
    if (end < len)
        return false;
    for (std::size_t i = 0; i < len; ++i)
        if (p[end - len + i] != word[i])
            return false;
    return true;
}

// "static void* tavrix::roAlloc::operator new(size_t)" -> "tavrix::roAlloc::operator new"
template <std::size_t N>
constexpr funcName<N> qualifiedName(const char (&p)[N])
{
    const std::size_t n = N - 1;
    std::size_t open = n;
    int depth = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = p[i];
        if (c == '<')
            ++depth;
        else if (c == '>')
            --depth;
        else if (c == '(' && depth == 0) {
            if (i + 2 < n && p[i + 1] == ')' && p[i + 2] == '(') { // operator()(...)
                ++i;
                continue;
            }
            open = i;
            break;
        }
    }
    std::size_t begin = open;
    depth = 0;
    while (begin > 0) {
        const char c = p[begin - 1];
        if (c == '>')
            ++depth;
        else if (c == '<')
            --depth;
        else if (c == ' ' && depth == 0) {
            if (!endsWithOperator(p, begin - 1))
                break;
        }
        --begin;
    }
    while (begin < open && (p[begin] == '*' || p[begin] == '&'))
        ++begin;
    funcName<N> r{};
    std::size_t k = 0;
    for (std::size_t i = begin; i < open; ++i)
        r.text[k++] = p[i];
    r.text[k] = '\0';
    return r;
}

} // namespace tavrix::util

#define TAVRIX_FUNC                                                                                        \
    (__extension__({                                                                                       \
        static constexpr auto tavrixFuncName_ = ::tavrix::util::qualifiedName(__PRETTY_FUNCTION__);        \
        tavrixFuncName_.text;                                                                              \
    }))
