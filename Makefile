# Front door: every target configures and builds with CMake as needed.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# The sanitizer build uses clang when it is installed, so both compilers see
# the code on every test run.
ASAN_CXX   ?= $(shell command -v clang++ 2>/dev/null || echo g++)

.PHONY: all build run test test-plain test-asan clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd examples && ../$(BUILD)/kelmem demo.txt

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKELMEM_SANITIZE=ON \
		-DCMAKE_CXX_COMPILER=$(ASAN_CXX)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

test: test-plain test-asan

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
