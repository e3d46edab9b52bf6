# Valsetto: make (Release build), make check (tests, also under sanitizers),
# make demo, make bench, make fuzz, make deb (the Debian package); make check
# also runs each fuzz target for 10 s (check-fuzz).
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
DEB_DIR ?= $(BUILD)/deb

.PHONY: all build deps check check-plain check-asan check-tsan check-fuzz demo bench fuzz deb clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@if [ "$$(id -u)" = 0 ]; then bash scripts/install-deps.sh; else echo "not root: skipping package installation"; fi

check: deps check-plain check-asan check-tsan check-fuzz
	@echo "make check: all test runs passed"

check-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

check-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVALSETTO_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The threaded tests under ThreadSanitizer. Every process they start (the
# host included) writes its reports to $(TSAN_BUILD)/tsan-report.<pid>;
# one such file fails the run. Within make check it follows check-asan,
# even under make -j; alone it builds and runs only itself.
TSAN_REPORTS = $(abspath $(TSAN_BUILD))/tsan-report
check-tsan: $(if $(filter check,$(MAKECMDGOALS)),check-asan)
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALSETTO_TSAN=ON >/dev/null
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	rm -f $(TSAN_REPORTS).*
	cd $(TSAN_BUILD) && TSAN_OPTIONS="log_path=$(TSAN_REPORTS) second_deadlock_stack=1" \
	  ctest --output-on-failure -j $(JOBS)
	@if ls $(TSAN_REPORTS).* >/dev/null 2>&1; then cat $(TSAN_REPORTS).*; \
	  echo "check-tsan: ThreadSanitizer reports above"; exit 1; fi

# A short pass of every fuzz target; it follows check-asan (and within make
# check, check-tsan) even under make -j.
check-fuzz: check-asan $(if $(filter check,$(MAKECMDGOALS)),check-tsan)
	FUZZ_SECONDS=10 FUZZ_BUILD=$(FUZZ_BUILD) bash scripts/fuzz.sh

demo: deps build
	bash scripts/demo.sh

bench: deps build
	bash scripts/bench.sh

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

# dpkg-buildpackage writes beside the tree it builds, so it builds a copy in
# $(DEB_DIR)/src: the package lands in $(DEB_DIR)/valsetto_<version>_<arch>.deb.
# debhelper gives the build a HOME of its own; the compiler cache stays the
# machine's.
deb:
	rm -rf $(DEB_DIR)
	mkdir -p $(DEB_DIR)/src
	tar -c --exclude-vcs --exclude='./build*' --exclude=node_modules --exclude=__pycache__ . \
		| tar -x -C $(DEB_DIR)/src
	cd $(DEB_DIR)/src && CCACHE_DIR="$$(ccache -k cache_dir 2>/dev/null)" dpkg-buildpackage -us -uc -b
	rm -rf $(DEB_DIR)/src
	@ls $(DEB_DIR)/valsetto_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
