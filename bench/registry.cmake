# registry benchmarks
