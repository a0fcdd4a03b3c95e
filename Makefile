# The two set-up commands: `make demo` and `make test`. Both install what is
# missing first, so they work on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Cache hits across clones and worktrees: paths relative to the checkout.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= true

.PHONY: all build deps configure test demo bench format loc clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: deps
	@$(MAKE) --no-print-directory build
	scripts/check-layers
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: deps
	@$(MAKE) --no-print-directory build
	scripts/demo $(BUILD)

bench: deps
	@$(MAKE) --no-print-directory build
	$(BUILD)/bin/merkanix-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	$(BUILD)/bin/merkanix-window-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	$(BUILD)/bin/merkanix-registration-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	$(BUILD)/bin/merkanix-optimisation-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	bench/measure-vs-cat.sh $(BUILD)
	/usr/bin/python3 bench/registration-vs-opencv.py $(BUILD)
	$(BUILD)/bin/rastrel-bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	/usr/bin/python3 bench/rastrel-vs-pillow.py $(BUILD)
	/usr/bin/python3 bench/rastrel-pcx-tiff-vs-pillow.py $(BUILD)
	/usr/bin/python3 bench/rastrel-png-jpeg.py $(BUILD)
	/usr/bin/python3 bench/calibration-accuracy.py $(BUILD)
	/usr/bin/python3 bench/edge-accuracy.py $(BUILD)
	/usr/bin/python3 bench/optimisation-accuracy.py $(BUILD) --max-passes 3000 --time 1000

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

loc:
	@scripts/loc

clean:
	rm -rf $(BUILD)
