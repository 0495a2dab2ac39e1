# Sourced by the scripts: installs what the build needs when a machine lacks it.
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v clang++ >/dev/null || need+=(clang)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
# Wanted but not required: a real firmware build for the identity tests (they
# skip without it).
want=()
[ -f /usr/share/OVMF/OVMF_CODE.fd ] || want+=(ovmf)
# The rollout playbook's test (tests/ansible/) runs it with ansible-playbook.
command -v ansible-playbook >/dev/null || want+=(ansible-core)
# The rescue-media, package and virtual-machine tests (tests/vm/).
. "$(dirname "${BASH_SOURCE[0]}")/deps_vm.sh"

if [ ${#need[@]} -gt 0 ] || [ ${#want[@]} -gt 0 ]; then
  echo "installing: ${need[*]} ${want[*]}" >&2
  apt-get update -qq || true
  if [ ${#need[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  fi
  if [ ${#want[@]} -gt 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${want[@]}" >/dev/null ||
      echo "could not install ${want[*]}; the tests that use it will be skipped" >&2
  fi
fi
