// One AVX-512 instruction (vpxord zmm0, zmm0, zmm0), as the system's codec libraries run at
// start-up on CPUs that have it: the memcheck wrapper must skip, not fail, where valgrind
// cannot execute it.
int main()
{
    __asm__ volatile(".byte 0x62, 0xf1, 0x7d, 0x48, 0xef, 0xc0");
    return 0;
}
