# Front door: every target configures and builds with CMake as needed.
BUILD      ?= build
ASAN_BUILD ?= build-asan
COV_BUILD  ?= build-coverage
PKG_BUILD  ?= build-package
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# The sanitizer build uses clang where it can link a sanitized program (clang
# with libclang-rt-14-dev), so both compilers see the code on every test
# run; else g++. Worked out only when the sanitizer build runs.
ASAN_CXX   ?= $(shell echo 'int main() {}' | clang++ -x c++ -fsanitize=address,undefined -o /dev/null - \
		>/dev/null 2>&1 && command -v clang++ || echo g++)
HAVE_VALGRIND   := $(shell command -v valgrind 2>/dev/null)
HAVE_CLANG_TIDY := $(shell command -v clang-tidy 2>/dev/null)
# Debian's build flags with every hardening feature.
DEB_FLAGS       := DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get
HAVE_EMXX       := $(shell command -v em++ >/dev/null && command -v node >/dev/null && echo yes)
HAVE_PACKAGING  := $(shell command -v dpkg-deb >/dev/null && command -v lintian >/dev/null && command -v dpkg-buildflags >/dev/null && command -v file >/dev/null && echo yes)
FUZZ_SECONDS ?= 60
BENCH_SIZES  ?= 100000 1000000 10000000
BENCH_RUNS   ?= 5

.PHONY: all build run view playground bench-playground test test-plain test-asan memcheck lint coverage fuzz bench package package-test clean

all: build

# The tests are built where GoogleTest and Python 3 are installed; the test
# targets below ask for them (KELMEM_TESTS=ON).
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON

build:
	$(CONFIGURE)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd examples && ../$(BUILD)/kelmem demo.txt

# The page of the demo run, written to $(BUILD)/demo.html.
view: build
	cd examples && ../$(BUILD)/viewer/kelmem-view -o ../$(BUILD)/demo.html demo.txt
	@echo "$(CURDIR)/$(BUILD)/demo.html"

# The playground: kelmem in one web page, written to $(BUILD)/playground.html.
playground: build
	@test -n "$(HAVE_EMXX)" || { echo "playground needs em++ and node (apt-get install emscripten node-acorn nodejs)"; exit 1; }
	cmake --build $(BUILD) --target playground
	@echo "$(CURDIR)/$(BUILD)/playground.html"

# Unit tests and golden cases, without the memcheck runs. A test that
# cannot run here (the browser tests without node or chromium, the
# playground's without emscripten) is skipped and says why on a line
# "skipped: ...", which is shown after the run. The playground is built
# where emscripten is installed.
test-plain:
	$(CONFIGURE) -DKELMEM_TESTS=ON
	cmake --build $(BUILD) -j $(JOBS)
	$(if $(HAVE_EMXX),cmake --build $(BUILD) --target playground)
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) -LE memcheck
	@sed -n '/^skipped: /p' $(BUILD)/Testing/Temporary/LastTest.log | sort -u

# Everything again under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report fails the run.
test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKELMEM_SANITIZE=ON -DKELMEM_TESTS=ON \
		-DCMAKE_CXX_COMPILER=$(ASAN_CXX)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The golden cases under valgrind memcheck: no errors, nothing lost.
memcheck: build
	@test -n "$(HAVE_VALGRIND)" || { echo "memcheck needs valgrind (apt-get install valgrind)"; exit 1; }
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) -L memcheck

# The build's link-time optimisation flags are gcc's; clang-tidy ignores them.
# Only findings are shown: clang-tidy's count of the compiler's warnings in
# the headers it does not check ("N warnings generated.", twice a file) is
# left out.
lint: build
	@test -n "$(HAVE_CLANG_TIDY)" || { echo "lint needs clang-tidy (apt-get install clang-tidy)"; exit 1; }
	@mkdir -p $(BUILD)/lint
	@status=0; clang-tidy -p $(BUILD) --quiet --extra-arg=-Wno-ignored-optimization-argument \
		src/*.cpp viewer/*.cpp checker/*.cpp 2>$(BUILD)/lint/stderr || status=$$?; \
	grep -Ev '^[0-9]+ warnings? generated\.$$' $(BUILD)/lint/stderr >&2; exit $$status

test: test-plain test-asan $(if $(HAVE_VALGRIND),memcheck) $(if $(HAVE_CLANG_TIDY),lint) \
	$(if $(HAVE_PACKAGING),package-test)

# The Debian package, built with Debian's hardening flags in its own folder:
# $(PKG_BUILD)/kelmem_<version>_amd64.deb, with the playground page where
# emscripten is installed.
package:
	@test -n "$(HAVE_PACKAGING)" || { echo "package needs dpkg-dev, file and lintian (apt-get install dpkg-dev file lintian)"; exit 1; }
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELMEM_TESTS=OFF \
		"-DCMAKE_CXX_FLAGS=$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
		"-DCMAKE_EXE_LINKER_FLAGS=$$($(DEB_FLAGS) LDFLAGS)"
	cmake --build $(PKG_BUILD) -j $(JOBS)
	$(if $(HAVE_EMXX),cmake --build $(PKG_BUILD) --target playground)
	cd $(PKG_BUILD) && cpack -G DEB

# Unpacks the package into a scratch root (never installs it), runs the
# programs from there on the packaged examples, renders the manual pages and
# runs lintian.
package-test: package
	bash tests/package/check.sh $(PKG_BUILD)/kelmem_*_amd64.deb

# Line and branch coverage of src/ from the unit and golden suites and the
# allocation-failure runs; fails below 100% of the lines or 98% of the
# branches. Exclusions are marked in the code (GCOVR_EXCL_...) with a reason.
coverage:
	@command -v gcovr >/dev/null || { echo "coverage needs gcovr (apt-get install gcovr)"; exit 1; }
	cmake -S . -B $(COV_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKELMEM_COVERAGE=ON -DCMAKE_CXX_COMPILER=g++
	cmake --build $(COV_BUILD) -j $(JOBS)
	find $(COV_BUILD) -name '*.gcda' -delete
	cd $(COV_BUILD) && ctest -j $(JOBS) -E '^fuzz\.' >/dev/null || true
	gcovr -r . --object-directory $(COV_BUILD) --filter 'src/' --exclude-unreachable-branches \
		--exclude-throw-branches --print-summary --fail-under-line 100 --fail-under-branch 98

fuzz:
	@command -v clang++ >/dev/null || { echo "fuzz needs clang (apt-get install clang libclang-rt-14-dev)"; exit 1; }
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash fuzz/run.sh

# kelmem against its I/O floor on generated scripts: figures, not pass/fail.
# kelmem-check's cases per second against kelmem, against the cost of
# starting kelmem alone.
bench: build
	python3 bench/run.py --build $(BUILD) --sizes "$(BENCH_SIZES)" --runs $(BENCH_RUNS)
	python3 bench/check.py --build $(BUILD)

# The playground in Chromium: time to the output and to the map for the demo
# and a 10,000-line script (figures, not pass/fail).
bench-playground: playground
	node bench/playground_bench.mjs $(BUILD)/playground.html $(BENCH_RUNS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(COV_BUILD) $(PKG_BUILD) build-asan-gcc build-fuzz fuzz-out
