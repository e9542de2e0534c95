"""Concurrent readers: many threads sharing the same vectors get the results a
single thread gets, and every shared access is given back."""

import threading

from verrakin import PhaseHVec, resonator_factorize


def test_threads_share_vectors():
    a, b = PhaseHVec.random(4096, 16, 1), PhaseHVec.random(4096, 16, 2)
    books = [[PhaseHVec.random(256, 16, 10 * f + j) for j in range(4)] for f in range(2)]
    composite = books[0][1].bind(books[1][3])
    expected = (a.bind(b).phases(), a.similarity(b), PhaseHVec.bundle([a, b, a]).phases(),
                resonator_factorize(composite, books))
    workers, rounds = 8, 25
    barrier = threading.Barrier(workers)
    results, errors = [], []

    def work():
        try:
            barrier.wait()
            for _ in range(rounds):
                results.append((a.bind(b).phases(), a.similarity(b), PhaseHVec.bundle([a, b, a]).phases(),
                                resonator_factorize(composite, books)))
        except BaseException as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=work) for _ in range(workers)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert errors == []
    assert len(results) == workers * rounds
    assert all(result == expected for result in results)
    assert a.unbind(b).bind(b).phases() == a.phases()
