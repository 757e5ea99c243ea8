⍝ Labels and branches, for and case blocks, diamonds
⍝ MAIN: CONTROL
⍝ ARGS: 5
∇Z←CONTROL N;I;S
N←⍎N
S←0 ⋄ I←0
TOP:I←I+1
S←S+I
→(I<N)⍴TOP
⎕←S
→SKIP
⎕←'never'
SKIP:{⍺I←⍳N: ⎕←⍺I×⍺I}
{⍺I←2 2⍴'abcd': ⎕←⍺I}
{⍺I←(1 2)(3 4 5): ⎕←⍴⍺I}
{N: ⎕←'one' : ⎕←'two' : ⎕←'many'}
{2: ⎕←'first' : ⎕←'second'}
{1: ⎕←'only'}
{0: ⎕←'not this'}
→(N>3)/END
⎕←'not reached'
END:Z←S,I
∇
