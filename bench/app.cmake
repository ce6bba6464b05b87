# application core benchmarks
