#include <cstdio>

int main()
{
    std::puts("Fotivela: the core library is built; the window arrives with the application shell.");
    return 0;
}
