"""A small associative memory: bind roles to fillers, bundle the pairs into one
record, query it, and factor a composite back into its codebook entries."""

from verrakin import PhaseHVec, resonator_factorize

DIM, N = 2048, 16

# Codebooks of random vectors, reproducible from their seeds.
colours = [PhaseHVec.random(DIM, N, seed) for seed in range(100, 108)]
shapes = [PhaseHVec.random(DIM, N, seed) for seed in range(200, 208)]
sizes = [PhaseHVec.random(DIM, N, seed) for seed in range(300, 308)]

# A record {colour: 3, shape: 5} as a bundle of role-filler bindings.
role_colour = PhaseHVec.random(DIM, N, 1)
role_shape = PhaseHVec.random(DIM, N, 2)
record = PhaseHVec.bundle([role_colour.bind(colours[3]), role_shape.bind(shapes[5])])

# Unbinding a role leaves a noisy copy of its filler; the nearest entry wins.
query = record.unbind(role_colour)
scores = [query.similarity(c) for c in colours]
best = max(range(len(colours)), key=scores.__getitem__)
print(f"colour of the record: entry {best} (similarity {scores[best]:.3f})")

# A composite of one entry per codebook, factored by the resonator.
composite = colours[6].bind(shapes[1]).bind(sizes[4])
factors = resonator_factorize(composite, [colours, shapes, sizes])
print("resonator factors (index, similarity):", factors)
assert [index for index, _ in factors] == [6, 1, 4]

# Every result is bit-identical from run to run.
again = resonator_factorize(composite, [colours, shapes, sizes])
assert again == factors
print("repeat run identical:", again == factors)
