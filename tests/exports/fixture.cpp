// A library of one exported function that uses templates of the standard
// library, for the exports check itself.
#include <deque>
#include <vector>

__attribute__((visibility("default"))) int kvexp_sum(int n)
{
    std::vector<int> v;
    std::deque<int> dq;
    for (int i = 0; i < n; ++i) {
        v.push_back(i);
        dq.push_back(i);
    }
    int s = 0;
    for (int i : v)
        s += i;
    return s + static_cast<int>(dq.size());
}
