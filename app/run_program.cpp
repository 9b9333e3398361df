// One run: ask for the accuracy, compute pi to that many digits, write them to
// the result file, say how long the computation took, and wait for a last key.
#include "run_program.hpp"

#include "accuracy_input.hpp"
#include "clock.hpp"
#include "cpu_count.hpp"
#include "interruption.hpp"
#include "last_key.hpp"
#include "limb.hpp"
#include "memory_limit.hpp"
#include "out_of_memory_report.hpp"
#include "pi_digits.hpp"
#include "process_memory.hpp"
#include "progress_line.hpp"
#include "result_file.hpp"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <string>

int64_t run_bytes_needed(int32_t limb_count)
{
    return pi_bytes_needed(limb_count) + RESULT_WRITE_BYTES;
}

int run_program()
{
    install_interruption_handlers();
    set_refused_memory_exit(exit_for_refused_memory_now);
    std::fputs("Enter accuracy: ", stdout);
    std::fflush(stdout);

    const AccuracyInput input = read_accuracy(stdin);
    if (input.outcome == AccuracyInput::Outcome::negative || input.outcome == AccuracyInput::Outcome::too_large)
        throw InputError("accuracy must be a whole number of digits from 0 to " + std::to_string(INT32_MAX));
    std::getc(stdin);  // the line end after the number

    const int32_t limb_count = limb_count_for(input.accuracy);
    std::atomic<int64_t> work_done{0};
    PiOptions options;
    options.cpus = usable_cpu_count();
    options.progress = &work_done;
    // Told before anything is allocated: an allocation that fails late, or
    // memory that runs out while the run touches its pages, would cost the
    // minutes of work before it. The run starts a thread for each CPU but
    // its own and one for the status line.
    const int64_t bytes_needed = run_bytes_needed(limb_count);
    const int64_t bytes_available = available_memory_bytes(options.cpus);
    if (bytes_needed > bytes_available)
        throw OutOfMemory(MemoryUse::digit_arrays, bytes_needed, bytes_available);
    // Likewise a result file that cannot be written, or whose digits would
    // not fit on its disk. Until its commit, the reserved file is removed
    // however the run ends, an interruption included.
    FileReplacement result = reserve_result(limb_count);

    configure_process_memory(limb_count, options);
    const int64_t start = milliseconds_since_start();
    PiLimbs pi = [&] {
        const ProgressLine progress(work_done, pi_progress_total(limb_count, options));
        return compute_pi(limb_count, options);
    }();
    const int64_t end = milliseconds_since_start();

    write_result(result, limb_count, pi.limbs.data());
    std::printf("Computation time is : %9.2f seconds\nResult in %s file.\n", elapsed_seconds(start, end),
                RESULT_FILE_NAME);
    std::fputs("\n\nPress any key to continue...", stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw ReportError(std::string("cannot print the report: ") + std::strerror(errno));
    pi.limbs = {};  // give the memory back before the pause

    read_last_key(stdin);
    return 0;
}
