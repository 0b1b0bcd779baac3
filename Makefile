# Ospry: `make run` plays the sample clip package, `make test` runs every test.
# Both first install the Debian packages that are missing.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)

# Everything the build, the tests and the tools need, by Debian package name.
PACKAGES := \
  cmake ninja-build g++ pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libcli11-dev nlohmann-json3-dev \
  qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri libxcb1-dev \
  libpulse-dev \
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev \
  libisal-dev zlib1g-dev \
  clang-14 libclang-rt-14-dev \
  xvfb xauth pulseaudio pulseaudio-utils

.PHONY: deps configure build run test check-asan check-tsan fuzz bench clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  sudo=""; [ "$$(id -u)" -ne 0 ] && sudo=sudo; \
	  echo "Installing missing packages:" $$missing; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq $$missing; \
	fi

configure: deps
	@[ -f $(BUILD)/build.ninja ] || cmake -S . -B $(BUILD) -G Ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash tools/run-main.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

check-asan: deps
	@[ -f $(ASAN_BUILD)/build.ninja ] || cmake -S . -B $(ASAN_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DOSPRY_SANITIZE=address -DOSPRY_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -LE no-asan

check-tsan: deps
	@[ -f $(TSAN_BUILD)/build.ninja ] || cmake -S . -B $(TSAN_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DOSPRY_SANITIZE=thread -DOSPRY_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(JOBS) -L threaded

fuzz: deps
	@[ -f $(FUZZ_BUILD)/build.ninja ] || CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DOSPRY_FUZZ=ON -DOSPRY_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@bash tools/run-fuzz.sh $(FUZZ_BUILD)

bench: build
	@for b in $(BUILD)/bin/*_bench; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
